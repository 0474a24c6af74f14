#pragma once

#include "common/Error.h"

#include <QString>

// Why a setup step refused to move on.
enum class OnboardingError { invalidTransition, providerRequired, folderRequired };

// The fixed sentence shown to the user.
QString errorDescription(OnboardingError error);
// Domain "OnboardingError", the case's position as code, and the fixed sentence.
Error toError(OnboardingError error);
QString onboardingErrorDomain();
