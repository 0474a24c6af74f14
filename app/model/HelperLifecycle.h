#pragma once

#include "common/Error.h"
#include "loginitem/HelperRegistrationService.h"
#include "recovery/HelperRecoveryAction.h"
#include "status/HelperStatus.h"

#include <QObject>
#include <QTimer>

#include <optional>

struct AppModelParts;
class SetupState;

// The background helper as the setup window keeps it: its login item, its status read from the status
// file every few seconds, the step that status implies, and the repairs the recovery policy asks for,
// checked once right away and once more after a grace period.
class HelperLifecycle : public QObject
{
    Q_OBJECT

public:
    HelperLifecycle(const AppModelParts &parts, SetupState &state, QObject *parent = nullptr);

    const std::optional<HelperStatus> &helperStatus() const { return m_helperStatus; }
    HelperRecoveryAction recoveryAction() const { return m_recoveryAction; }

    // Reads the status now and every few seconds from then on.
    void start();
    // Reloads the status file and judges the helper's health.
    void readStatus();
    // Checks the helper's login item and status now and once more after the grace period; a newer call
    // replaces a pending second check.
    void ensure();
    // Drops a pending second check, answering whether there was one.
    bool cancelSecondCheck();
    Result<void> registerHelper();
    // Unregisters the helper and drops the pending check and recovery action; a refusal is logged only.
    void withdraw();
    // After a log-out: unregisters the helper, reporting a refusal.
    Result<void> unregisterHelper();
    // After a log-out: no check pending, no status, no action.
    void forget();

Q_SIGNALS:
    void helperStatusChanged();
    void recoveryActionChanged();
    // A reading ended; what depends on the time of reading may have changed with it.
    void statusRead();

private:
    void checkAfterGracePeriod();
    // Answers whether the action was handled and no second check should follow.
    bool handleRecovery(HelperRecoveryAction action, HelperRegistrationService &service);
    HelperRegistrationService registrationService() const;
    void setHelperStatus(std::optional<HelperStatus> status);
    void setRecoveryAction(HelperRecoveryAction action);

    const AppModelParts &m_parts;
    SetupState &m_state;
    std::optional<HelperStatus> m_helperStatus;
    HelperRecoveryAction m_recoveryAction = HelperRecoveryAction::none;
    std::optional<Error> m_statusReadFailure;
    QTimer m_statusTimer;
    QTimer m_secondCheck;
};
