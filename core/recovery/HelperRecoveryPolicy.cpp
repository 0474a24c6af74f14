#include "HelperRecoveryPolicy.h"

#include "status/HelperHealth.h"

namespace HelperRecoveryPolicy {

HelperRecoveryAction action(LoginItemState loginItemState, const std::optional<HelperStatus> &status,
                            bool gracePeriodElapsed, const QDateTime &now)
{
    switch (loginItemState) {
    case LoginItemState::notRegistered: return HelperRecoveryAction::registerHelper;
    case LoginItemState::notFound: return HelperRecoveryAction::reinstall;
    case LoginItemState::requiresApproval: return HelperRecoveryAction::enableInSystemSettings;
    case LoginItemState::enabled: break;
    }
    if (!gracePeriodElapsed)
        return HelperRecoveryAction::none;
    if (!HelperHealth::isFresh(status, now))
        return HelperRecoveryAction::restart;
    return HelperRecoveryAction::none;
}

} // namespace HelperRecoveryPolicy
