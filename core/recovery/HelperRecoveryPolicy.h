#pragma once

#include "loginitem/LoginItemState.h"
#include "recovery/HelperRecoveryAction.h"
#include "status/HelperStatus.h"

#include <QDateTime>

#include <optional>

// Decides how to recover the background helper from its login-item state and its last published status.
namespace HelperRecoveryPolicy {

// The login-item state decides first; once the helper is registered and its start-up grace period is over,
// anything but a fresh connected status asks for a restart. `status` is nullopt when none could be read.
HelperRecoveryAction action(LoginItemState loginItemState, const std::optional<HelperStatus> &status,
                            bool gracePeriodElapsed, const QDateTime &now);

} // namespace HelperRecoveryPolicy
