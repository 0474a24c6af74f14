#pragma once

#include "common/Error.h"

#include <QString>

// Why a setup step refused to move on.
enum class OnboardingError { invalidTransition, providerRequired, folderRequired };

// Domain "OnboardingError", the case's position as code, and the fixed sentence shown to the user.
Error toError(OnboardingError error);
