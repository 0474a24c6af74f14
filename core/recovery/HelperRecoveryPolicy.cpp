#include "HelperRecoveryPolicy.h"

namespace HelperRecoveryPolicy {

HelperRecoveryAction action(LoginItemState loginItemState, const std::optional<HelperStatus> &status,
                            bool gracePeriodElapsed, const QDateTime &now)
{
    switch (loginItemState) {
    case LoginItemState::notRegistered:
        return HelperRecoveryAction::registerHelper;
    case LoginItemState::notFound:
        return HelperRecoveryAction::reinstall;
    case LoginItemState::requiresApproval:
        return HelperRecoveryAction::enableInSystemSettings;
    case LoginItemState::enabled:
        break;
    }
    if (!gracePeriodElapsed)
        return HelperRecoveryAction::none;
    if (!status || !status->isFresh(now, HelperStatus::freshnessWindow))
        return HelperRecoveryAction::restart;
    return HelperRecoveryAction::none;
}

} // namespace HelperRecoveryPolicy
