#pragma once

#include "onboarding/OnboardingStep.h"
#include "status/HelperStatus.h"

#include <QDateTime>

#include <optional>

// The one line of the ready screen that tells whether this computer can take calls.
enum class ReadyStatus { checkingConnection, offline, readyForCalls, gettingReady, couldNotStart };

namespace ReadyStatusRule {

ReadyStatus decide(std::optional<bool> networkAvailable, const std::optional<HelperStatus> &helperStatus,
                   OnboardingStep step, const QDateTime &now);

} // namespace ReadyStatusRule
