#include "AppModel.h"

#include "api/APIError.h"
#include "api/PairingCredentialPersister.h"
#include "credentials/DeviceCredentialParser.h"
#include "credentials/KeychainError.h"
#include "model/SetupLog.h"
#include "model/SignInError.h"
#include "onboarding/OnboardingError.h"
#include "pairing/PairingSecurity.h"
#include "status/HelperHealth.h"
#include "status/StatusStore.h"

#include <QCoroFuture>
#include <QDir>
#include <QFileInfo>
#include <QtConcurrent/QtConcurrentRun>

namespace {

const QString callbackScheme = QStringLiteral("tarnwick");
const QString confirmationFailed =
    QStringLiteral("Could not confirm this Mac with Tarnwick. Check your connection and try again.");
const QString helperCouldNotStart = QStringLiteral("The background service couldn't start.");
const QString enableInLoginItems = QStringLiteral("Enable Tarnwick in Login Items so it can run after login.");
const QString helperMissing = QStringLiteral("The background helper is missing. Reinstall Tarnwick.");
const QString helperRegistrationFailed =
    QStringLiteral("The background helper could not start. Reinstall Tarnwick if this continues.");
const QString folderChooserTitle = QStringLiteral("Choose folders Tarnwick may use");
const QString folderChooserAccept = QStringLiteral("Allow folders");

ProviderReadiness readinessFromConfig(const ProviderPaths &paths)
{
    return ProviderReadiness{paths, paths.codex.has_value(), paths.claudeCode.has_value(), {}};
}

QString homeAbbreviated(const QString &path)
{
    const QString home = QDir::homePath();
    if (path == home)
        return QStringLiteral("~");
    if (path.startsWith(home + QLatin1Char('/')))
        return QLatin1Char('~') + path.mid(home.size());
    return path;
}

QString lastPathComponent(const QString &path)
{
    const QString name = QFileInfo(QDir::cleanPath(path)).fileName();
    return name.isEmpty() ? path : name;
}

} // namespace

AppModel::AppModel(AppModelParts parts, QObject *parent)
    : QObject(parent)
    , m_parts(std::move(parts))
    , m_appVersion(m_parts.appVersion.isEmpty() ? QStringLiteral("0.3.0") : m_parts.appVersion)
    , m_appBuild(m_parts.appBuild.isEmpty() ? QStringLiteral("10") : m_parts.appBuild)
{
    m_recoveryTimer.setSingleShot(true);
    m_recoveryTimer.setTimerType(Qt::PreciseTimer);
    m_recoveryTimer.setInterval(m_parts.recoveryDelay);
    connect(&m_recoveryTimer, &QTimer::timeout, this, &AppModel::checkHelperAfterGracePeriod);
    m_keyring.setMaxThreadCount(1);

    restoreEarlierSetup();

    m_statusTimer.setInterval(m_parts.statusInterval);
    connect(&m_statusTimer, &QTimer::timeout, this, &AppModel::readStatus);
    m_statusTimer.start();

    connect(m_parts.networkMonitor.get(), &NetworkMonitoring::reachabilityChanged, this,
            &AppModel::setNetworkAvailable, Qt::QueuedConnection);
    m_parts.networkMonitor->start();

    readStatus();
}

AppModel::~AppModel()
{
    // The monitor goes first so that no report arrives for a half-destroyed model.
    m_parts.networkMonitor.reset();
}

// Keyring ---------------------------------------------------------------------------------------------

// The Secret Service may sit behind an unlock prompt for as long as the user takes, so its calls run on
// the keyring thread and the window keeps drawing meanwhile.
template<typename Operation>
auto AppModel::onKeyring(Operation operation)
{
    return QtConcurrent::run(&m_keyring, [store = m_parts.credentialStore.get(), operation] { return operation(*store); });
}

namespace {

Result<std::optional<QString>> readCredential(const CredentialStoring &store)
{
    return store.read();
}

} // namespace

// Start-up ------------------------------------------------------------------------------------------

void AppModel::restoreEarlierSetup()
{
    Result<std::optional<AppConfig>> config = m_parts.configStore->load();
    if (!config) {
        qCWarning(lcSetup).noquote() << "The earlier setup could not be restored:" << config.error().description;
        needsAttention(config.error().description);
        return;
    }
    setRestoring(true);
    restoreWithStoredCredential(this, std::move(*config));
}

QCoro::Task<> AppModel::restoreWithStoredCredential(QPointer<AppModel> self, std::optional<AppConfig> config)
{
    const quint64 actions = self->m_userActions;
    const Result<std::optional<QString>> credential = co_await self->onKeyring(readCredential);
    if (!self)
        co_return;
    // A user who has started something meanwhile (a sign-in) keeps it: the late answer changes nothing.
    if (self->m_userActions == actions) {
        if (Result<void> restored = credential ? self->restoreFromStores(config, *credential) : failure(credential.error());
            !restored) {
            qCWarning(lcSetup).noquote() << "The earlier setup could not be restored:" << restored.error().description;
            self->needsAttention(restored.error().description);
        }
    } else {
        qCInfo(lcSetup) << "The stored setup came after the user had moved on; it is left as it is";
    }
    // Last, so that the window judges the step restored, not the initial one.
    self->setRestoring(false);
}

Result<void> AppModel::restoreFromStores(const std::optional<AppConfig> &config, const std::optional<QString> &credential)
{
    if (config)
        restoreFromConfig(*config);
    if (!credential)
        return {};

    const std::optional<QUuid> id = DeviceCredentialParser::deviceId(*credential);
    if (!id)
        return failure(KeychainError::invalidData().toError());
    m_deviceId = id;
    if (config && config->isReadyForReconnect(*id)) {
        setStep(OnboardingStep::connected);
        resumeFinishedSetup(this, *credential);
    } else {
        setStep(OnboardingStep::providers);
        resumePairedSetup(this, *credential);
    }
    return {};
}

void AppModel::restoreFromConfig(const AppConfig &config)
{
    m_deviceId = config.deviceId;
    QList<QUrl> folders;
    for (const QString &root : config.allowedRoots)
        folders.append(QUrl::fromLocalFile(root));
    setSelectedFolders(folders);
    setProviderReadiness(readinessFromConfig(config.providerPaths));
}

QCoro::Task<> AppModel::resumeFinishedSetup(QPointer<AppModel> self, QString credential)
{
    const bool applied = co_await validateConnection(self, credential);
    // A rejected credential has just unregistered the helper and reset setup; registering it again would
    // start a helper that cannot authenticate.
    if (applied && self->m_machine.step != OnboardingStep::connect)
        self->ensureHelperLifecycle();
}

QCoro::Task<> AppModel::resumePairedSetup(QPointer<AppModel> self, QString credential)
{
    const bool applied = co_await validateConnection(self, credential);
    if (applied && self->m_machine.step == OnboardingStep::providers)
        self->checkProviders();
}

QCoro::Task<bool> AppModel::validateConnection(QPointer<AppModel> self, QString credential)
{
    const quint64 round = self->m_setupRound;
    const Result<Device> device = co_await self->m_parts.api->currentDevice(credential);
    if (!self)
        co_return false;
    // The answer can take a minute; a log-out or a new sign-in meanwhile has moved setup on, and the
    // answer no longer speaks for it.
    if (self->m_setupRound != round) {
        Q_EMIT self->operationFinished();
        co_return false;
    }
    // A device other than the one this computer knows counts as a failure, though not as a rejection.
    if (!device && APIError::isUnauthorized(device.error())) {
        qCWarning(lcSetup) << "The service no longer accepts this computer's credential; signing in again";
        self->reconnectAccount();
    } else if (!device) {
        qCWarning(lcSetup).noquote() << "The connection could not be confirmed:" << device.error().description;
        self->needsAttention(confirmationFailed);
    } else if (self->m_deviceId != device->id) {
        qCWarning(lcSetup) << "The service answered for device" << device->id << "instead of" << *self->m_deviceId;
        self->needsAttention(confirmationFailed);
    }
    Q_EMIT self->operationFinished();
    co_return true;
}

// Status reading --------------------------------------------------------------------------------------

void AppModel::readStatus()
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
    if (m_machine.step == OnboardingStep::connected && m_helperStatus && !HelperHealth::isHealthy(*m_helperStatus, now))
        needsAttention(helperCouldNotStart);

    if (m_machine.step == OnboardingStep::needsAttention && m_recoveryAction == HelperRecoveryAction::none
        && HelperHealth::isFresh(m_helperStatus, now)) {
        setStep(OnboardingStep::connected);
        setErrorMessage(std::nullopt);
        setRecoveryAction(HelperRecoveryAction::none);
    }
    refreshReadyStatus();
}

// Sign-in ---------------------------------------------------------------------------------------------

void AppModel::connectDevice(std::optional<QUuid> existingDeviceId)
{
    ++m_setupRound;
    setErrorMessage(std::nullopt);
    const Result<PairingRequest> request = PairingSecurity::makeRequest();
    if (!request) {
        qCWarning(lcSetup).noquote() << "The sign-in could not be prepared:" << request.error().description;
        setErrorMessage(request.error().description);
        return;
    }
    const QString name = m_parts.deviceName ? m_parts.deviceName() : QString();
    const std::optional<QUrl> page = PairingSecurity::connectionURL(
        m_parts.baseURL, *request, name.isEmpty() ? QStringLiteral("This Mac") : name, m_appVersion, m_appBuild,
        existingDeviceId ? existingDeviceId : m_deviceId);
    if (!page) {
        qCWarning(lcSetup) << "No connection page address can be made from the service address" << m_parts.baseURL;
        setErrorMessage(QStringLiteral("The connection page address could not be made."));
        return;
    }
    QPointer<AppModel> self(this);
    const auto completion = [self, request = *request](Result<QUrl> outcome) {
        // The sign-in may report from anywhere; the work happens on the main thread.
        QMetaObject::invokeMethod(
            self, [self, request, outcome] { completeSignIn(self, request, outcome); }, Qt::QueuedConnection);
    };
    const auto browserFailed = [self, link = *page](const Error &error) {
        QMetaObject::invokeMethod(
            self,
            [self, link, error] {
                qCWarning(lcSetup).noquote() << "The sign-in page could not be opened:" << error.description;
                if (self->m_signInLink == link)
                    self->setBrowserUnavailable(true);
            },
            Qt::QueuedConnection);
    };
    setBrowserUnavailable(false);
    const bool started = m_parts.signIn->start(*page, callbackScheme, completion, browserFailed);
    if (started)
        qCInfo(lcSetup) << "Sign-in started in the browser";
    else
        qCWarning(lcSetup) << "The sign-in could not start";
    setSignInLink(started ? *page : QUrl());
    setBusy(started);
}

void AppModel::signIn()
{
    userActed();
    connectDevice(std::nullopt);
}

void AppModel::cancelSignIn()
{
    m_parts.signIn->cancel();
}

QCoro::Task<> AppModel::completeSignIn(QPointer<AppModel> self, PairingRequest request, Result<QUrl> outcome)
{
    self->setSignInLink(QUrl());
    self->setBrowserUnavailable(false);
    self->setBusy(false);
    if (!outcome) {
        if (SignInError::isCanceledLogin(outcome.error())) {
            qCInfo(lcSetup) << "Sign-in canceled";
        } else {
            qCWarning(lcSetup).noquote() << "Sign-in failed:" << outcome.error().description;
            self->setErrorMessage(outcome.error().description);
        }
        Q_EMIT self->operationFinished();
        co_return;
    }
    if (outcome->isEmpty()) {
        qCWarning(lcSetup) << "Sign-in failed: the browser came back without a link";
        self->setErrorMessage(description(PairingValidationError::invalidCallback));
        Q_EMIT self->operationFinished();
        co_return;
    }
    const std::expected<QString, PairingValidationError> code = PairingSecurity::validateCallback(*outcome, request.state);
    // The link itself is never logged: it carries the one-time code.
    if (!code) {
        qCWarning(lcSetup).noquote() << "The sign-in link was refused:" << description(code.error());
        self->setErrorMessage(description(code.error()));
        Q_EMIT self->operationFinished();
        co_return;
    }
    const Result<DeviceExchange> exchange = co_await self->m_parts.api->exchange(*code, request.verifier);
    if (!self)
        co_return;
    if (!exchange) {
        qCWarning(lcSetup).noquote() << "The sign-in code could not be exchanged:" << exchange.error().description;
        self->setErrorMessage(exchange.error().description);
        Q_EMIT self->operationFinished();
        co_return;
    }
    const Result<void> paired = co_await pairedWith(self, *exchange);
    if (!self)
        co_return;
    if (!paired) {
        qCWarning(lcSetup).noquote() << "Pairing could not be completed:" << paired.error().description;
        self->setErrorMessage(paired.error().description);
    } else {
        qCInfo(lcSetup) << "Paired as device" << exchange->device.id;
    }
    Q_EMIT self->operationFinished();
}

// `exchange` belongs to the caller, which waits for this to finish.
QCoro::Task<Result<void>> AppModel::pairedWith(QPointer<AppModel> self, const DeviceExchange &exchange)
{
    const quint64 actions = self->m_userActions;
    // Named, not a temporary of the co_await: GCC 12 destroys such temporaries twice.
    const auto persist = [exchange](const CredentialStoring &store) { return PairingCredentialPersister(store).persist(exchange); };
    const Result<void> stored = co_await self->onKeyring(persist);
    if (!self || !stored)
        co_return stored;
    self->m_deviceId = exchange.device.id;
    // A sign-in started while the credential was being stored is the newer attempt; this one ends here.
    if (self->m_userActions != actions)
        co_return Result<void>();
    const Result<bool> restored = self->restoreExistingSetup(exchange.device.id);
    if (!restored)
        co_return failure(restored.error());
    if (*restored)
        co_return Result<void>();
    OnboardingStateMachine next = self->m_machine;
    if (Result<void> moved = next.paired(); !moved)
        co_return moved;
    self->setMachine(next);
    self->checkProviders();
    co_return Result<void>();
}

Result<bool> AppModel::restoreExistingSetup(const QUuid &id)
{
    Result<std::optional<AppConfig>> loaded = m_parts.configStore->load();
    if (!loaded)
        return failure(loaded.error());
    if (!*loaded || !(*loaded)->isReadyForReconnect(id))
        return false;
    AppConfig config = **loaded;
    config.apiUrl = m_parts.baseURL.toString(QUrl::FullyEncoded);
    config.deviceId = id;
    config.appVersion = m_appVersion;
    if (Result<void> saved = m_parts.configStore->save(config); !saved)
        return failure(saved.error());
    setStep(OnboardingStep::connected);
    if (Result<void> registered = registerHelper(); !registered)
        return failure(registered.error());
    readStatus();
    ensureHelperLifecycle();
    return true;
}

// Coding agents ---------------------------------------------------------------------------------------

void AppModel::checkProviders()
{
    setBusy(true);
    setErrorMessage(std::nullopt);
    runProviderCheck(this);
}

QCoro::Task<> AppModel::runProviderCheck(QPointer<AppModel> self)
{
    const ProviderReadiness readiness = co_await QtConcurrent::run(self->m_parts.discoverProviders);
    if (!self)
        co_return;
    self->setBusy(false);
    self->setProviderReadiness(readiness);
    Q_EMIT self->operationFinished();
}

void AppModel::continueFromProviders()
{
    userActed();
    OnboardingStateMachine next = m_machine;
    const ProviderPaths paths = m_providerReadiness ? m_providerReadiness->paths : ProviderPaths{};
    if (Result<void> moved = next.providersVerified(paths); !moved) {
        qCInfo(lcSetup).noquote() << "Staying with the coding agents:" << moved.error().description;
        setErrorMessage(moved.error().description);
        return;
    }
    setMachine(next);
}

// Folders ---------------------------------------------------------------------------------------------

void AppModel::chooseFolders()
{
    userActed();
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
    userActed();
    if (Result<void> finished = saveFinishedSetup(); !finished) {
        qCWarning(lcSetup).noquote() << "Setup could not be finished:" << finished.error().description;
        needsAttention(finished.error().description);
        return;
    }
    readStatus();
    ensureHelperLifecycle();
}

Result<void> AppModel::saveFinishedSetup()
{
    if (!m_deviceId)
        return failure(toError(OnboardingError::invalidTransition));
    if (!m_providerReadiness || !m_providerReadiness->paths.hasProvider())
        return failure(toError(OnboardingError::providerRequired));
    const QStringList folders = selectedFolderPaths();
    OnboardingStateMachine next = m_machine;
    if (Result<void> moved = next.foldersSelected(folders); !moved)
        return moved;
    setMachine(next);
    const AppConfig config{m_parts.baseURL.toString(QUrl::FullyEncoded), *m_deviceId, m_appVersion, folders,
                           folders.first(), m_providerReadiness->paths};
    if (Result<void> saved = m_parts.configStore->save(config); !saved)
        return saved;
    return registerHelper();
}

void AppModel::changeFolders()
{
    userActed();
    if (!m_choosingFolders)
        changeFoldersTask(this);
}

QCoro::Task<> AppModel::changeFoldersTask(QPointer<AppModel> self)
{
    co_await chooseFoldersTask(self);
    if (!self || self->m_selectedFolders.isEmpty())
        co_return;
    if (Result<void> saved = self->saveChangedFolders(); !saved) {
        qCWarning(lcSetup).noquote() << "The folders could not be changed:" << saved.error().description;
        self->setErrorMessage(saved.error().description);
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
    config.allowedRoots = selectedFolderPaths();
    config.defaultDirectory = config.allowedRoots.first();
    return m_parts.configStore->save(config);
}

QStringList AppModel::selectedFolderPaths() const
{
    QStringList paths;
    for (const QUrl &folder : m_selectedFolders)
        paths.append(folder.toLocalFile());
    return paths;
}

// Helper ----------------------------------------------------------------------------------------------

HelperRegistrationService AppModel::registrationService() const
{
    return HelperRegistrationService(m_parts.loginItem());
}

Result<void> AppModel::registerHelper()
{
    return m_parts.loginItem()->registerItem();
}

void AppModel::ensureHelperLifecycle()
{
    m_recoveryTimer.stop();
    HelperRegistrationService service = registrationService();
    const HelperRecoveryAction action =
        HelperRecoveryPolicy::action(service.state(), m_helperStatus, false, m_parts.clock->now());
    if (!handleRecovery(action, service))
        m_recoveryTimer.start();
}

void AppModel::checkHelperAfterGracePeriod()
{
    readStatus();
    HelperRegistrationService service = registrationService();
    const HelperRecoveryAction action =
        HelperRecoveryPolicy::action(service.state(), m_helperStatus, true, m_parts.clock->now());
    handleRecovery(action, service);
    Q_EMIT operationFinished();
}

bool AppModel::handleRecovery(HelperRecoveryAction action, HelperRegistrationService &service)
{
    setRecoveryAction(action);
    Result<void> attempt;
    switch (action) {
    case HelperRecoveryAction::none:
        return false;
    case HelperRecoveryAction::registerHelper:
        attempt = service.enable();
        break;
    case HelperRecoveryAction::restart:
        attempt = service.restart();
        break;
    case HelperRecoveryAction::enableInSystemSettings:
        qCWarning(lcSetup) << "The helper's autostart entry is switched off in the desktop's startup settings";
        needsAttention(enableInLoginItems);
        return true;
    case HelperRecoveryAction::reinstall:
        qCWarning(lcSetup) << "The helper program is missing from the installation";
        needsAttention(helperMissing);
        return true;
    }
    if (!attempt) {
        qCWarning(lcSetup).noquote() << "Helper recovery" << rawValue(action) << "failed:" << attempt.error().description;
        needsAttention(helperRegistrationFailed);
        return true;
    }
    qCInfo(lcSetup).noquote() << "Helper recovery" << rawValue(action) << "done";
    setHelperStatus(HelperStatus(HelperStatus::State::starting, m_parts.clock->now()));
    setRecoveryAction(HelperRecoveryAction::none);
    refreshReadyStatus();
    return true;
}

void AppModel::reconnectAccount()
{
    if (const Result<void> unregistered = m_parts.loginItem()->unregisterItem(); !unregistered)
        qCWarning(lcSetup).noquote() << "The helper could not be unregistered:" << unregistered.error().description;
    m_recoveryTimer.stop();
    setRecoveryAction(HelperRecoveryAction::none);
    setStep(OnboardingStep::connect);
    signInAgainWithStoredDevice(this);
}

QCoro::Task<> AppModel::signInAgainWithStoredDevice(QPointer<AppModel> self)
{
    const quint64 actions = self->m_userActions;
    const Result<std::optional<QString>> credential = co_await self->onKeyring(readCredential);
    if (self && !credential)
        qCWarning(lcSetup).noquote() << "The stored device could not be read:" << credential.error().description;
    // The user may have signed in or out meanwhile.
    if (!self || self->m_userActions != actions || self->m_machine.step != OnboardingStep::connect)
        co_return;
    const std::optional<QUuid> stored =
        credential && *credential ? DeviceCredentialParser::deviceId(**credential) : std::nullopt;
    self->connectDevice(stored ? stored : self->m_deviceId);
}

// Log-out ---------------------------------------------------------------------------------------------

void AppModel::logOut()
{
    userActed();
    ++m_setupRound;
    setBusy(true);
    logOutTask(this);
}

QCoro::Task<> AppModel::logOutTask(QPointer<AppModel> self)
{
    const Result<std::optional<QString>> credential = co_await self->onKeyring(readCredential);
    if (!self)
        co_return;
    Result<void> outcome = credential ? Result<void>() : failure(credential.error());
    if (outcome && *credential) {
        outcome = co_await self->m_parts.api->disconnect(**credential);
        if (!self)
            co_return;
    }
    if (outcome)
        outcome = self->m_parts.loginItem()->unregisterItem();
    if (outcome) {
        outcome = co_await self->onKeyring([](const CredentialStoring &store) { return store.remove(); });
        if (!self)
            co_return;
    }
    if (outcome)
        outcome = self->m_parts.configStore->remove();
    if (outcome) {
        qCInfo(lcSetup) << "Logged out";
        self->m_recoveryTimer.stop();
        self->setStep(OnboardingStep::connect);
        self->setHelperStatus(std::nullopt);
        self->setRecoveryAction(HelperRecoveryAction::none);
    } else {
        qCWarning(lcSetup).noquote() << "Log-out failed:" << outcome.error().description;
        self->setErrorMessage(outcome.error().description);
    }
    self->setBusy(false);
    self->refreshReadyStatus();
    Q_EMIT self->operationFinished();
}

// Published fields ------------------------------------------------------------------------------------

void AppModel::needsAttention(const QString &message)
{
    OnboardingStateMachine next = m_machine;
    next.needsAttention();
    setMachine(next);
    setErrorMessage(message);
}

void AppModel::setStep(OnboardingStep step)
{
    OnboardingStateMachine next = m_machine;
    next.step = step;
    setMachine(next);
}

void AppModel::setMachine(const OnboardingStateMachine &machine)
{
    if (m_machine == machine)
        return;
    m_machine = machine;
    Q_EMIT machineChanged();
    refreshReadyStatus();
}

void AppModel::setProviderReadiness(std::optional<ProviderReadiness> readiness)
{
    if (m_providerReadiness == readiness)
        return;
    m_providerReadiness = std::move(readiness);
    Q_EMIT providerReadinessChanged();
}

void AppModel::setSelectedFolders(QList<QUrl> folders)
{
    if (m_selectedFolders == folders)
        return;
    m_selectedFolders = std::move(folders);
    Q_EMIT selectedFoldersChanged();
}

void AppModel::setHelperStatus(std::optional<HelperStatus> status)
{
    if (m_helperStatus == status)
        return;
    m_helperStatus = std::move(status);
    Q_EMIT helperStatusChanged();
}

void AppModel::setErrorMessage(std::optional<QString> message)
{
    if (m_errorMessage == message)
        return;
    m_errorMessage = std::move(message);
    Q_EMIT errorMessageChanged();
}

void AppModel::setRecoveryAction(HelperRecoveryAction action)
{
    if (m_recoveryAction == action)
        return;
    m_recoveryAction = action;
    Q_EMIT recoveryActionChanged();
}

void AppModel::setNetworkAvailable(bool available)
{
    if (m_networkAvailable == available)
        return;
    m_networkAvailable = available;
    Q_EMIT networkAvailableChanged();
    refreshReadyStatus();
}

void AppModel::setBusy(bool isBusy)
{
    if (m_busy == isBusy)
        return;
    m_busy = isBusy;
    Q_EMIT busyChanged();
}

void AppModel::setRestoring(bool isRestoring)
{
    if (m_restoring == isRestoring)
        return;
    m_restoring = isRestoring;
    Q_EMIT restoringChanged();
}

void AppModel::setSignInLink(const QUrl &link)
{
    if (m_signInLink == link)
        return;
    m_signInLink = link;
    Q_EMIT signInLinkChanged();
}

void AppModel::setBrowserUnavailable(bool unavailable)
{
    if (m_browserUnavailable == unavailable)
        return;
    m_browserUnavailable = unavailable;
    Q_EMIT browserUnavailableChanged();
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
        ReadyStatusRule::decide(m_networkAvailable, m_helperStatus, m_machine.step, m_parts.clock->now());
    if (m_readyStatus == status)
        return;
    m_readyStatus = status;
    Q_EMIT readyStatusChanged();
}

// Values for the window -------------------------------------------------------------------------------

QString AppModel::stepName() const
{
    return rawValue(m_machine.step);
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
    if (!m_helperStatus)
        return {};
    QVariantMap status{{QStringLiteral("state"), HelperStatus::rawValue(m_helperStatus->state())}};
    if (m_helperStatus->lastHeartbeat())
        status.insert(QStringLiteral("lastHeartbeat"), *m_helperStatus->lastHeartbeat());
    if (m_helperStatus->error())
        status.insert(QStringLiteral("error"), *m_helperStatus->error());
    return status;
}

QVariant AppModel::errorMessageValue() const
{
    return m_errorMessage ? QVariant(*m_errorMessage) : QVariant();
}

QString AppModel::recoveryActionName() const
{
    return rawValue(m_recoveryAction);
}

QVariant AppModel::networkAvailableValue() const
{
    return m_networkAvailable ? QVariant(*m_networkAvailable) : QVariant();
}

QString AppModel::readyStatusName() const
{
    return ReadyStatusRule::name(m_readyStatus);
}

QVariantList AppModel::folderRows() const
{
    QVariantList rows;
    for (const QString &path : selectedFolderPaths()) {
        rows.append(QVariantMap{{QStringLiteral("name"), lastPathComponent(path)},
                                {QStringLiteral("path"), path},
                                {QStringLiteral("displayPath"), homeAbbreviated(path)}});
    }
    return rows;
}

QString AppModel::folderSummary() const
{
    QStringList names;
    for (const QString &path : selectedFolderPaths())
        names.append(lastPathComponent(path));
    const QString label = names.size() == 1 ? QStringLiteral("Folder") : QStringLiteral("Folders");
    return label + QStringLiteral(": ") + names.join(QStringLiteral(", "));
}

bool AppModel::signInOpen() const
{
    return m_busy && m_parts.signIn->isOpen();
}
