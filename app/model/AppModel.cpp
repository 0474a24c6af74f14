#include "AppModel.h"

#include "model/SetupLog.h"
#include "onboarding/OnboardingError.h"

#include <QCoroFuture>
#include <QtConcurrent/QtConcurrentRun>

#include <utility>

namespace {

const QString folderChooserTitle = QStringLiteral("Choose folders Tarnwick may use");
const QString folderChooserAccept = QStringLiteral("Allow folders");

AppModelParts withDefaultVersion(AppModelParts parts)
{
    if (parts.appVersion.isEmpty())
        parts.appVersion = QStringLiteral("0.3.0");
    if (parts.appBuild.isEmpty())
        parts.appBuild = QStringLiteral("10");
    return parts;
}

ProviderReadiness readinessFromConfig(const ProviderPaths &paths)
{
    return ProviderReadiness{paths, paths.codex.has_value(), paths.claudeCode.has_value(), {}};
}

} // namespace

AppModel::AppModel(AppModelParts parts, QObject *parent)
    : QObject(parent)
    , m_parts(withDefaultVersion(std::move(parts)))
    , m_helper(m_parts, m_state)
    , m_signIn(m_parts, m_state, m_helper)
{
    forwardSignals();
    m_signIn.restoreEarlierSetup();
    m_helper.start();

    connect(m_parts.networkMonitor.get(), &NetworkMonitoring::reachabilityChanged, this, &AppModel::setNetworkAvailable,
            Qt::QueuedConnection);
    m_parts.networkMonitor->start();

    m_helper.readStatus();
}

AppModel::~AppModel()
{
    // The monitor goes first so that no report arrives for a half-destroyed model.
    m_parts.networkMonitor.reset();
}

void AppModel::forwardSignals()
{
    connect(&m_state, &SetupState::machineChanged, this, &AppModel::machineChanged);
    connect(&m_state, &SetupState::machineChanged, this, &AppModel::refreshReadyStatus);
    connect(&m_state, &SetupState::errorMessageChanged, this, &AppModel::errorMessageChanged);
    connect(&m_state, &SetupState::busyChanged, this, &AppModel::busyChanged);
    connect(&m_state, &SetupState::operationFinished, this, &AppModel::operationFinished);
    connect(&m_helper, &HelperLifecycle::helperStatusChanged, this, &AppModel::helperStatusChanged);
    connect(&m_helper, &HelperLifecycle::helperStatusChanged, this, &AppModel::refreshReadyStatus);
    connect(&m_helper, &HelperLifecycle::statusRead, this, &AppModel::refreshReadyStatus);
    connect(&m_helper, &HelperLifecycle::recoveryActionChanged, this, &AppModel::recoveryActionChanged);
    connect(&m_signIn, &SignInFlow::restoringChanged, this, &AppModel::restoringChanged);
    connect(&m_signIn, &SignInFlow::restoringChanged, this, &AppModel::signInIfFirstShown);
    connect(&m_signIn, &SignInFlow::signInLinkChanged, this, &AppModel::signInLinkChanged);
    connect(&m_signIn, &SignInFlow::browserUnavailableChanged, this, &AppModel::browserUnavailableChanged);
    connect(&m_signIn, &SignInFlow::configRestored, this, &AppModel::restoreFromConfig);
    connect(&m_signIn, &SignInFlow::providerCheckDue, this, &AppModel::checkProviders);
}

void AppModel::restoreFromConfig(const AppConfig &config)
{
    QList<QUrl> folders;
    for (const QString &root : config.allowedRoots)
        folders.append(QUrl::fromLocalFile(root));
    setSelectedFolders(folders);
    setProviderReadiness(readinessFromConfig(config.providerPaths));
}

// Sign-in ---------------------------------------------------------------------------------------------

void AppModel::windowShown()
{
    m_windowShown = true;
    signInIfFirstShown();
}

// Decided once, when the window is first shown with the stored setup read: a later showing, or a log-out
// back to the first step, waits for the user's "Sign In".
void AppModel::signInIfFirstShown()
{
    if (!m_windowShown || restoring() || m_initialSignInDecided)
        return;
    m_initialSignInDecided = true;
    if (m_state.step() == OnboardingStep::connect && !signInOpen())
        signIn();
}

void AppModel::signIn()
{
    m_state.userActed();
    m_signIn.connectDevice(std::nullopt);
}

void AppModel::cancelSignIn()
{
    m_signIn.cancelSignIn();
}

void AppModel::logOut()
{
    m_state.userActed();
    m_signIn.logOut();
}

// Coding agents ---------------------------------------------------------------------------------------

void AppModel::checkProviders()
{
    m_state.setBusy(true);
    m_state.setErrorMessage(std::nullopt);
    runProviderCheck(this);
}

QCoro::Task<> AppModel::runProviderCheck(QPointer<AppModel> self)
{
    const ProviderReadiness readiness = co_await QtConcurrent::run(self->m_parts.discoverProviders);
    if (!self)
        co_return;
    self->m_state.setBusy(false);
    self->setProviderReadiness(readiness);
    Q_EMIT self->operationFinished();
}

void AppModel::continueFromProviders()
{
    m_state.userActed();
    OnboardingStateMachine next = m_state.machine();
    const ProviderPaths paths = m_providerReadiness ? m_providerReadiness->paths : ProviderPaths{};
    if (Result<void> moved = next.providersVerified(paths); !moved) {
        qCInfo(lcSetup).noquote() << "Staying with the coding agents:" << moved.error().description;
        m_state.setErrorMessage(moved.error().description);
        return;
    }
    m_state.setMachine(next);
}

// Folders ---------------------------------------------------------------------------------------------

void AppModel::chooseFolders()
{
    m_state.userActed();
    if (!m_choosingFolders)
        chooseFoldersTask(this);
}

QCoro::Task<> AppModel::chooseFoldersTask(QPointer<AppModel> self)
{
    self->setChoosingFolders(true);
    const std::optional<QList<QUrl>> chosen =
        co_await self->m_parts.folderChooser->chooseFolders(folderChooserTitle, folderChooserAccept);
    if (!self)
        co_return;
    self->setChoosingFolders(false);
    if (chosen)
        self->setSelectedFolders(*chosen);
}

void AppModel::finishSetup()
{
    m_state.userActed();
    if (Result<void> finished = saveFinishedSetup(); !finished) {
        qCWarning(lcSetup).noquote() << "Setup could not be finished:" << finished.error().description;
        m_state.needsAttention(finished.error().description);
        return;
    }
    m_helper.readStatus();
    m_helper.ensure();
}

Result<void> AppModel::saveFinishedSetup()
{
    const std::optional<QUuid> &deviceId = m_signIn.deviceId();
    if (!deviceId)
        return failure(toError(OnboardingError::invalidTransition));
    if (!m_providerReadiness || !m_providerReadiness->paths.hasProvider())
        return failure(toError(OnboardingError::providerRequired));
    const QStringList folders = m_folders.paths();
    OnboardingStateMachine next = m_state.machine();
    if (Result<void> moved = next.foldersSelected(folders); !moved)
        return moved;
    m_state.setMachine(next);
    const AppConfig config{m_parts.baseURL.toString(QUrl::FullyEncoded),
                           *deviceId,
                           m_parts.appVersion,
                           folders,
                           folders.first(),
                           m_providerReadiness->paths};
    if (Result<void> saved = m_parts.configStore->save(config); !saved)
        return saved;
    return m_helper.registerHelper();
}

void AppModel::changeFolders()
{
    m_state.userActed();
    if (!m_choosingFolders)
        changeFoldersTask(this);
}

QCoro::Task<> AppModel::changeFoldersTask(QPointer<AppModel> self)
{
    co_await chooseFoldersTask(self);
    if (!self || self->m_folders.count() == 0)
        co_return;
    if (Result<void> saved = self->saveChangedFolders(); !saved) {
        qCWarning(lcSetup).noquote() << "The folders could not be changed:" << saved.error().description;
        self->m_state.setErrorMessage(saved.error().description);
    }
    Q_EMIT self->operationFinished();
}

Result<void> AppModel::saveChangedFolders()
{
    Result<std::optional<AppConfig>> loaded = m_parts.configStore->load();
    if (!loaded)
        return failure(loaded.error());
    if (!*loaded)
        return failure(toError(OnboardingError::invalidTransition));
    AppConfig config = **loaded;
    config.allowedRoots = m_folders.paths();
    config.defaultDirectory = config.allowedRoots.first();
    return m_parts.configStore->save(config);
}

// Published fields ------------------------------------------------------------------------------------

void AppModel::setProviderReadiness(std::optional<ProviderReadiness> readiness)
{
    if (m_providerReadiness == readiness)
        return;
    m_providerReadiness = std::move(readiness);
    Q_EMIT providerReadinessChanged();
}

void AppModel::setSelectedFolders(QList<QUrl> folders)
{
    if (m_folders.setFolders(std::move(folders)))
        Q_EMIT selectedFoldersChanged();
}

void AppModel::setNetworkAvailable(bool available)
{
    if (m_networkAvailable == available)
        return;
    m_networkAvailable = available;
    Q_EMIT networkAvailableChanged();
    refreshReadyStatus();
}

void AppModel::setChoosingFolders(bool choosing)
{
    if (m_choosingFolders == choosing)
        return;
    m_choosingFolders = choosing;
    Q_EMIT choosingFoldersChanged();
}

void AppModel::refreshReadyStatus()
{
    const ReadyStatus status =
        ReadyStatusRule::decide(m_networkAvailable, m_helper.helperStatus(), m_state.step(), m_parts.clock->now());
    if (m_readyStatus == status)
        return;
    m_readyStatus = status;
    Q_EMIT readyStatusChanged();
}

// Values for the window -------------------------------------------------------------------------------

namespace {

// The window's enumerations follow the core's one for one (AppModel.h).
template<typename Shown, typename Core>
constexpr Shown shown(Core value)
{
    return Shown(std::to_underlying(value));
}
static_assert(shown<AppModel::Step>(OnboardingStep::needsAttention) == AppModel::Step::NeedsAttention);
static_assert(shown<AppModel::ReadyState>(ReadyStatus::couldNotStart) == AppModel::ReadyState::CouldNotStart);
static_assert(shown<AppModel::Recovery>(HelperRecoveryAction::reinstall) == AppModel::Recovery::Reinstall);

} // namespace

AppModel::Step AppModel::stepShown() const
{
    return shown<Step>(m_state.step());
}

QVariant AppModel::providerReadinessValue() const
{
    if (!m_providerReadiness)
        return {};
    return QVariantMap{{QStringLiteral("codexReady"), m_providerReadiness->codexReady},
                       {QStringLiteral("claudeCodeReady"), m_providerReadiness->claudeCodeReady},
                       {QStringLiteral("hasProvider"), m_providerReadiness->paths.hasProvider()},
                       {QStringLiteral("messages"), m_providerReadiness->messages}};
}

QVariant AppModel::helperStatusValue() const
{
    const std::optional<HelperStatus> &helperStatus = m_helper.helperStatus();
    if (!helperStatus)
        return {};
    QVariantMap status{{QStringLiteral("state"), HelperStatus::rawValue(helperStatus->state())}};
    if (helperStatus->lastHeartbeat())
        status.insert(QStringLiteral("lastHeartbeat"), *helperStatus->lastHeartbeat());
    if (helperStatus->error())
        status.insert(QStringLiteral("error"), *helperStatus->error());
    return status;
}

QVariant AppModel::errorMessageValue() const
{
    return m_state.errorMessage() ? QVariant(*m_state.errorMessage()) : QVariant();
}

AppModel::Recovery AppModel::recoveryActionShown() const
{
    return shown<Recovery>(m_helper.recoveryAction());
}

QVariant AppModel::networkAvailableValue() const
{
    return m_networkAvailable ? QVariant(*m_networkAvailable) : QVariant();
}

AppModel::ReadyState AppModel::readyStatusShown() const
{
    return shown<ReadyState>(m_readyStatus);
}
