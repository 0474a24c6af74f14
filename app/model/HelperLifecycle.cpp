#include "HelperLifecycle.h"

#include "model/AppModelParts.h"
#include "model/SetupLog.h"
#include "model/SetupState.h"
#include "recovery/HelperRecoveryPolicy.h"
#include "status/HelperHealth.h"
#include "status/StatusStore.h"

namespace {

const QString helperCouldNotStart = QStringLiteral("The background service couldn't start.");
const QString enableInLoginItems = QStringLiteral("Enable Tarnwick in Login Items so it can run after login.");
const QString helperMissing = QStringLiteral("The background helper is missing. Reinstall Tarnwick.");
const QString helperRegistrationFailed =
    QStringLiteral("The background helper could not start. Reinstall Tarnwick if this continues.");

} // namespace

HelperLifecycle::HelperLifecycle(const AppModelParts &parts, SetupState &state, QObject *parent)
    : QObject(parent)
    , m_parts(parts)
    , m_state(state)
{
    m_secondCheck.setSingleShot(true);
    m_secondCheck.setTimerType(Qt::PreciseTimer);
    m_secondCheck.setInterval(m_parts.recoveryDelay);
    connect(&m_secondCheck, &QTimer::timeout, this, &HelperLifecycle::checkAfterGracePeriod);
    m_statusTimer.setInterval(m_parts.statusInterval);
    connect(&m_statusTimer, &QTimer::timeout, this, &HelperLifecycle::readStatus);
}

void HelperLifecycle::start()
{
    m_statusTimer.start();
}

void HelperLifecycle::readStatus()
{
    const Result<std::optional<HelperStatus>> loaded = StatusStore(m_parts.statusPath).load();
    // Read every few seconds: a file that stays unreadable is reported once, not at every reading.
    if (!loaded && loaded.error() != m_statusReadFailure)
        qCWarning(lcSetup).noquote() << "The helper's status could not be read:" << loaded.error().description;
    m_statusReadFailure = loaded ? std::nullopt : std::optional(loaded.error());
    // A file that holds no status reads as none; one that could not be read at all (something other
    // than a small regular file planted there) leaves the last status standing.
    if (loaded || loaded.error().domain != u"POSIX")
        setHelperStatus(loaded ? *loaded : std::nullopt);

    const QDateTime now = m_parts.clock->now();
    if (m_state.step() == OnboardingStep::connected && m_helperStatus && !HelperHealth::isHealthy(*m_helperStatus, now))
        m_state.needsAttention(helperCouldNotStart);

    // Whatever put the step at needsAttention, a helper that reports in freshly clears it, unless a
    // repair is still pending.
    if (m_state.step() == OnboardingStep::needsAttention && m_recoveryAction == HelperRecoveryAction::none
        && HelperHealth::isFresh(m_helperStatus, now)) {
        m_state.setStep(OnboardingStep::connected);
        m_state.setErrorMessage(std::nullopt);
    }
    Q_EMIT statusRead();
}

HelperRegistrationService HelperLifecycle::registrationService() const
{
    return HelperRegistrationService(m_parts.loginItem());
}

Result<void> HelperLifecycle::registerHelper()
{
    return m_parts.loginItem()->registerItem();
}

Result<void> HelperLifecycle::unregisterHelper()
{
    return m_parts.loginItem()->unregisterItem();
}

void HelperLifecycle::withdraw()
{
    if (const Result<void> unregistered = unregisterHelper(); !unregistered)
        qCWarning(lcSetup).noquote() << "The helper could not be unregistered:" << unregistered.error().description;
    m_secondCheck.stop();
    setRecoveryAction(HelperRecoveryAction::none);
}

void HelperLifecycle::forget()
{
    m_secondCheck.stop();
    setHelperStatus(std::nullopt);
    setRecoveryAction(HelperRecoveryAction::none);
}

void HelperLifecycle::ensure()
{
    m_secondCheck.stop();
    HelperRegistrationService service = registrationService();
    const HelperRecoveryAction action =
        HelperRecoveryPolicy::action(service.state(), m_helperStatus, false, m_parts.clock->now());
    if (!handleRecovery(action, service))
        m_secondCheck.start();
}

bool HelperLifecycle::cancelSecondCheck()
{
    const bool pending = m_secondCheck.isActive();
    m_secondCheck.stop();
    return pending;
}

void HelperLifecycle::checkAfterGracePeriod()
{
    readStatus();
    HelperRegistrationService service = registrationService();
    const HelperRecoveryAction action =
        HelperRecoveryPolicy::action(service.state(), m_helperStatus, true, m_parts.clock->now());
    handleRecovery(action, service);
    Q_EMIT m_state.operationFinished();
}

bool HelperLifecycle::handleRecovery(HelperRecoveryAction action, HelperRegistrationService &service)
{
    setRecoveryAction(action);
    Result<void> attempt;
    switch (action) {
    case HelperRecoveryAction::none: return false;
    case HelperRecoveryAction::registerHelper: attempt = service.enable(); break;
    case HelperRecoveryAction::restart: attempt = service.restart(); break;
    case HelperRecoveryAction::enableInSystemSettings:
        qCWarning(lcSetup) << "The helper's autostart entry is switched off in the desktop's startup settings";
        m_state.needsAttention(enableInLoginItems);
        return true;
    case HelperRecoveryAction::reinstall:
        qCWarning(lcSetup) << "The helper program is missing from the installation";
        m_state.needsAttention(helperMissing);
        return true;
    }
    if (!attempt) {
        qCWarning(lcSetup).noquote() << "Helper recovery" << rawValue(action)
                                     << "failed:" << attempt.error().description;
        m_state.needsAttention(helperRegistrationFailed);
        return true;
    }
    qCInfo(lcSetup).noquote() << "Helper recovery" << rawValue(action) << "done";
    // Provisional, until the next reading replaces it.
    setHelperStatus(HelperStatus(HelperStatus::State::starting, m_parts.clock->now()));
    setRecoveryAction(HelperRecoveryAction::none);
    return true;
}

void HelperLifecycle::setHelperStatus(std::optional<HelperStatus> status)
{
    if (m_helperStatus == status)
        return;
    m_helperStatus = std::move(status);
    Q_EMIT helperStatusChanged();
}

void HelperLifecycle::setRecoveryAction(HelperRecoveryAction action)
{
    if (m_recoveryAction == action)
        return;
    m_recoveryAction = action;
    Q_EMIT recoveryActionChanged();
}
