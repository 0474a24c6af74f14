#include "SignInFlow.h"

#include "api/APIError.h"
#include "api/PairingCredentialPersister.h"
#include "credentials/DeviceCredentialParser.h"
#include "credentials/KeychainError.h"
#include "model/AppModelParts.h"
#include "model/HelperLifecycle.h"
#include "model/SetupLog.h"
#include "model/SetupState.h"
#include "model/SignInError.h"
#include "pairing/PairingSecurity.h"

#include <QCoroFuture>
#include <QtConcurrent/QtConcurrentRun>

namespace {

const QString confirmationFailed =
    QStringLiteral("Could not confirm this Mac with Tarnwick. Check your connection and try again.");

Result<std::optional<QString>> readCredential(const CredentialStoring &store)
{
    return store.read();
}

} // namespace

SignInFlow::SignInFlow(AppModelParts &parts, SetupState &state, HelperLifecycle &helper, QObject *parent)
    : QObject(parent)
    , m_parts(parts)
    , m_state(state)
    , m_helper(helper)
{
    m_keyring.setMaxThreadCount(1);
}

// The Secret Service may sit behind an unlock prompt for as long as the user takes, so its calls run on
// the keyring thread and the window keeps drawing meanwhile.
template<typename Operation>
auto SignInFlow::onKeyring(Operation operation)
{
    return QtConcurrent::run(&m_keyring,
                             [store = m_parts.credentialStore.get(), operation] { return operation(*store); });
}

// Start-up ------------------------------------------------------------------------------------------

void SignInFlow::restoreEarlierSetup()
{
    Result<std::optional<AppConfig>> config = m_parts.configStore->load();
    if (!config) {
        qCWarning(lcSetup).noquote() << "The earlier setup could not be restored:" << config.error().description;
        m_state.needsAttention(config.error().description);
        return;
    }
    setRestoring(true);
    restoreWithStoredCredential(this, std::move(*config));
}

QCoro::Task<> SignInFlow::restoreWithStoredCredential(QPointer<SignInFlow> self, std::optional<AppConfig> config)
{
    const quint64 actions = self->m_state.userActions();
    const Result<std::optional<QString>> credential = co_await self->onKeyring(readCredential);
    if (!self)
        co_return;
    // A user who has started something meanwhile (a sign-in) keeps it: the late answer changes nothing.
    if (self->m_state.userActions() == actions) {
        if (Result<void> restored =
                credential ? self->restoreFromStores(config, *credential) : failure(credential.error());
            !restored) {
            qCWarning(lcSetup).noquote() << "The earlier setup could not be restored:" << restored.error().description;
            self->m_state.needsAttention(restored.error().description);
        }
    } else {
        qCInfo(lcSetup) << "The stored setup came after the user had moved on; it is left as it is";
    }
    // Last, so that the window judges the step restored, not the initial one.
    self->setRestoring(false);
}

Result<void> SignInFlow::restoreFromStores(const std::optional<AppConfig> &config,
                                           const std::optional<QString> &credential)
{
    if (config) {
        m_deviceId = config->deviceId;
        Q_EMIT configRestored(*config);
    }
    if (!credential)
        return {};

    const std::optional<QUuid> id = DeviceCredentialParser::deviceId(*credential);
    if (!id)
        return failure(KeychainError::invalidData().toError());
    m_deviceId = id;
    if (config && config->isReadyForReconnect(*id)) {
        m_state.setStep(OnboardingStep::connected);
        resumeFinishedSetup(this, *credential);
    } else {
        m_state.setStep(OnboardingStep::providers);
        resumePairedSetup(this, *credential);
    }
    return {};
}

QCoro::Task<> SignInFlow::resumeFinishedSetup(QPointer<SignInFlow> self, QString credential)
{
    const bool applied = co_await validateConnection(self, credential);
    // A rejected credential has just unregistered the helper and reset setup; registering it again would
    // start a helper that cannot authenticate.
    if (applied && self->m_state.step() != OnboardingStep::connect)
        self->m_helper.ensure();
}

QCoro::Task<> SignInFlow::resumePairedSetup(QPointer<SignInFlow> self, QString credential)
{
    const bool applied = co_await validateConnection(self, credential);
    if (applied && self->m_state.step() == OnboardingStep::providers)
        Q_EMIT self->providerCheckDue();
}

QCoro::Task<bool> SignInFlow::validateConnection(QPointer<SignInFlow> self, QString credential)
{
    const quint64 round = self->m_setupRound;
    const Result<Device> device = co_await self->m_parts.api->currentDevice(credential);
    if (!self)
        co_return false;
    // The answer can take a minute; a log-out or a new sign-in meanwhile has moved setup on, and the
    // answer no longer speaks for it.
    if (self->m_setupRound != round) {
        Q_EMIT self->m_state.operationFinished();
        co_return false;
    }
    // A device other than the one this computer knows counts as a failure, though not as a rejection.
    if (!device && APIError::isUnauthorized(device.error())) {
        qCWarning(lcSetup) << "The service no longer accepts this computer's credential; signing in again";
        self->reconnectAccount();
    } else if (!device) {
        qCWarning(lcSetup).noquote() << "The connection could not be confirmed:" << device.error().description;
        self->m_state.needsAttention(confirmationFailed);
    } else if (self->m_deviceId != device->id) {
        qCWarning(lcSetup) << "The service answered for device" << device->id << "instead of" << *self->m_deviceId;
        self->m_state.needsAttention(confirmationFailed);
    }
    Q_EMIT self->m_state.operationFinished();
    co_return true;
}

void SignInFlow::reconnectAccount()
{
    m_helper.withdraw();
    m_state.setStep(OnboardingStep::connect);
    signInAgainWithStoredDevice(this);
}

QCoro::Task<> SignInFlow::signInAgainWithStoredDevice(QPointer<SignInFlow> self)
{
    const quint64 actions = self->m_state.userActions();
    const Result<std::optional<QString>> credential = co_await self->onKeyring(readCredential);
    if (self && !credential)
        qCWarning(lcSetup).noquote() << "The stored device could not be read:" << credential.error().description;
    // The user may have signed in or out meanwhile.
    if (!self || self->m_state.userActions() != actions || self->m_state.step() != OnboardingStep::connect)
        co_return;
    const std::optional<QUuid> stored =
        credential && *credential ? DeviceCredentialParser::deviceId(**credential) : std::nullopt;
    self->connectDevice(stored ? stored : self->m_deviceId);
}

// Sign-in ---------------------------------------------------------------------------------------------

void SignInFlow::connectDevice(std::optional<QUuid> existingDeviceId)
{
    ++m_setupRound;
    m_state.setErrorMessage(std::nullopt);
    const Result<PairingRequest> request = PairingSecurity::makeRequest();
    if (!request) {
        qCWarning(lcSetup).noquote() << "The sign-in could not be prepared:" << request.error().description;
        m_state.setErrorMessage(request.error().description);
        return;
    }
    const QString name = m_parts.deviceName ? m_parts.deviceName() : QString();
    const std::optional<QUrl> page = PairingSecurity::connectionURL(
        m_parts.baseURL, *request, name.isEmpty() ? QStringLiteral("This Mac") : name, m_parts.appVersion,
        m_parts.appBuild, existingDeviceId ? existingDeviceId : m_deviceId);
    if (!page) {
        qCWarning(lcSetup) << "No connection page address can be made from the service address" << m_parts.baseURL;
        m_state.setErrorMessage(QStringLiteral("The connection page address could not be made."));
        return;
    }
    QPointer<SignInFlow> self(this);
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
    const bool started = m_parts.signIn->start(*page, PairingSecurity::callbackScheme, completion, browserFailed);
    if (started)
        qCInfo(lcSetup) << "Sign-in started in the browser";
    else
        qCWarning(lcSetup) << "The sign-in could not start";
    setSignInLink(started ? *page : QUrl());
    m_state.setBusy(started);
}

void SignInFlow::cancelSignIn()
{
    m_parts.signIn->cancel();
}

bool SignInFlow::signInOpen() const
{
    return m_state.busy() && m_parts.signIn->isOpen();
}

QCoro::Task<> SignInFlow::completeSignIn(QPointer<SignInFlow> self, PairingRequest request, Result<QUrl> outcome)
{
    SetupState &state = self->m_state;
    self->setSignInLink(QUrl());
    self->setBrowserUnavailable(false);
    state.setBusy(false);
    const auto fail = [&state](const QString &message) {
        state.setErrorMessage(message);
        Q_EMIT state.operationFinished();
    };
    if (!outcome) {
        if (SignInError::isCanceledLogin(outcome.error())) {
            qCInfo(lcSetup) << "Sign-in canceled";
            Q_EMIT state.operationFinished();
        } else {
            qCWarning(lcSetup).noquote() << "Sign-in failed:" << outcome.error().description;
            fail(outcome.error().description);
        }
        co_return;
    }
    if (outcome->isEmpty()) {
        qCWarning(lcSetup) << "Sign-in failed: the browser came back without a link";
        co_return fail(description(PairingValidationError::invalidCallback));
    }
    const std::expected<QString, PairingValidationError> code =
        PairingSecurity::validateCallback(*outcome, request.state);
    // The link itself is never logged: it carries the one-time code.
    if (!code) {
        qCWarning(lcSetup).noquote() << "The sign-in link was refused:" << description(code.error());
        co_return fail(description(code.error()));
    }
    const Result<DeviceExchange> exchange = co_await self->m_parts.api->exchange(*code, request.verifier);
    if (!self)
        co_return;
    if (!exchange) {
        qCWarning(lcSetup).noquote() << "The sign-in code could not be exchanged:" << exchange.error().description;
        co_return fail(exchange.error().description);
    }
    const Result<void> paired = co_await pairedWith(self, *exchange);
    if (!self)
        co_return;
    if (!paired) {
        qCWarning(lcSetup).noquote() << "Pairing could not be completed:" << paired.error().description;
        co_return fail(paired.error().description);
    }
    qCInfo(lcSetup) << "Paired as device" << exchange->device.id;
    Q_EMIT state.operationFinished();
}

// `exchange` belongs to the caller, which waits for this to finish.
QCoro::Task<Result<void>> SignInFlow::pairedWith(QPointer<SignInFlow> self, const DeviceExchange &exchange)
{
    const quint64 actions = self->m_state.userActions();
    // Named, not a temporary of the co_await: GCC 12 destroys such temporaries twice.
    const auto persist = [exchange](const CredentialStoring &store) {
        return PairingCredentialPersister(store).persist(exchange);
    };
    const Result<void> stored = co_await self->onKeyring(persist);
    if (!self || !stored)
        co_return stored;
    self->m_deviceId = exchange.device.id;
    // A sign-in started while the credential was being stored is the newer attempt; this one ends here.
    if (self->m_state.userActions() != actions)
        co_return Result<void>();
    const Result<bool> restored = self->restoreExistingSetup(exchange.device.id);
    if (!restored)
        co_return failure(restored.error());
    if (*restored)
        co_return Result<void>();
    OnboardingStateMachine next = self->m_state.machine();
    if (Result<void> moved = next.paired(); !moved)
        co_return moved;
    self->m_state.setMachine(next);
    Q_EMIT self->providerCheckDue();
    co_return Result<void>();
}

Result<bool> SignInFlow::restoreExistingSetup(const QUuid &id)
{
    Result<std::optional<AppConfig>> loaded = m_parts.configStore->load();
    if (!loaded)
        return failure(loaded.error());
    if (!*loaded || !(*loaded)->isReadyForReconnect(id))
        return false;
    AppConfig config = **loaded;
    config.apiUrl = m_parts.baseURL.toString(QUrl::FullyEncoded);
    config.deviceId = id;
    config.appVersion = m_parts.appVersion;
    if (Result<void> saved = m_parts.configStore->save(config); !saved)
        return failure(saved.error());
    m_state.setStep(OnboardingStep::connected);
    if (Result<void> registered = m_helper.registerHelper(); !registered)
        return failure(registered.error());
    m_helper.readStatus();
    m_helper.ensure();
    return true;
}

// Log-out ---------------------------------------------------------------------------------------------

void SignInFlow::logOut()
{
    ++m_setupRound;
    m_state.setBusy(true);
    // A second check firing while the log-out removes the helper would register it again.
    logOutTask(this, m_helper.cancelSecondCheck());
}

QCoro::Task<> SignInFlow::logOutTask(QPointer<SignInFlow> self, bool checkWasPending)
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
        outcome = self->m_helper.unregisterHelper();
    if (outcome) {
        outcome = co_await self->onKeyring([](const CredentialStoring &store) { return store.remove(); });
        if (!self)
            co_return;
    }
    if (outcome)
        outcome = self->m_parts.configStore->remove();
    if (outcome) {
        qCInfo(lcSetup) << "Logged out";
        self->m_state.setStep(OnboardingStep::connect);
        self->m_helper.forget();
    } else {
        qCWarning(lcSetup).noquote() << "Log-out failed:" << outcome.error().description;
        self->m_state.setErrorMessage(outcome.error().description);
        // Still set up: the helper is looked after again as it was before the log-out.
        if (checkWasPending)
            self->m_helper.ensure();
    }
    self->m_state.setBusy(false);
    Q_EMIT self->m_state.operationFinished();
}

// Published fields ------------------------------------------------------------------------------------

void SignInFlow::setRestoring(bool restoring)
{
    if (m_restoring == restoring)
        return;
    m_restoring = restoring;
    Q_EMIT restoringChanged();
}

void SignInFlow::setSignInLink(const QUrl &link)
{
    if (m_signInLink == link)
        return;
    m_signInLink = link;
    Q_EMIT signInLinkChanged();
}

void SignInFlow::setBrowserUnavailable(bool unavailable)
{
    if (m_browserUnavailable == unavailable)
        return;
    m_browserUnavailable = unavailable;
    Q_EMIT browserUnavailableChanged();
}
