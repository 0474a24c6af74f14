#include "ReadyStatus.h"

#include "status/HelperHealth.h"

namespace ReadyStatusRule {

ReadyStatus decide(std::optional<bool> networkAvailable, const std::optional<HelperStatus> &helperStatus,
                   OnboardingStep step, const QDateTime &now)
{
    if (!networkAvailable)
        return ReadyStatus::checkingConnection;
    if (!*networkAvailable)
        return ReadyStatus::offline;
    if (HelperHealth::isFresh(helperStatus, now))
        return ReadyStatus::readyForCalls;
    if (step == OnboardingStep::connected && helperStatus && helperStatus->state() == HelperStatus::State::starting)
        return ReadyStatus::gettingReady;
    return ReadyStatus::couldNotStart;
}

} // namespace ReadyStatusRule
