#include "AppTestSupport.h"

#include "config/AppPaths.h"
#include "credentials/DeviceCredentialParser.h"

#include <QCoroTask>
#include <QFile>
#include <QSignalSpy>
#include <QTest>
#include <QUrlQuery>

#include <sys/stat.h>

using namespace Qt::StringLiterals;
using State = HelperStatus::State;

namespace {

enum class StoredConfig { none, resumable, otherDevice, noAgent, noFolder };

QString queryValue(const QUrl &url, const QString &name)
{
    return QUrlQuery(url).queryItemValue(name, QUrl::FullyDecoded);
}

QString upper(const QUuid &id)
{
    return id.toString(QUuid::WithoutBraces).toUpper();
}

ino_t inodeOf(const QString &path)
{
    struct stat info = {};
    return ::stat(QFile::encodeName(path).constData(), &info) == 0 ? info.st_ino : 0;
}

} // namespace

class AppModelTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup() { m_service.reset(); }

    void startUpResumes_data();
    void startUpResumes();
    void unreadableStartUpNeedsAttention_data();
    void unreadableStartUpNeedsAttention();
    void rejectedCredentialStartsNewSignIn();
    void unconfirmedCredentialNeedsAttention();
    void pairing_data();
    void pairing();
    void signInOutcomes_data();
    void signInOutcomes();
    void finishSetupFailures_data();
    void finishSetupFailures();
    void changeFoldersRewritesConfigAtomically();
    void recoveryActions_data();
    void recoveryActions();
    void secondCheckRestartsHelperOnce();
    void helperHealth_data();
    void helperHealth();
    void freshStatusClearsAttention_data();
    void freshStatusClearsAttention();
    void logOut_data();
    void logOut();

private:
    std::unique_ptr<AppModel> makeModel(ProviderReadiness discovered = codexOnly, QUrl baseURL = {})
    {
        baseURL = baseURL.isEmpty() ? m_service->baseUrl() : baseURL;
        return std::make_unique<AppModel>(testParts(baseURL, m_seams, std::move(discovered)));
    }
    std::unique_ptr<AppModel> connectedModel();
    void writeStatus(State state, int age = 0) { writeHelperStatus(HelperStatus(state, m_seams.clock->now().addSecs(-age))); }

    std::unique_ptr<LocalServiceProcess> m_service;
    Seams m_seams;
};

void AppModelTest::init()
{
    m_service = std::make_unique<LocalServiceProcess>(QStringList{u"--approve-immediately"_s});
    QVERIFY(m_service->start());
    QVERIFY(keychain().remove());
    QVERIFY(configFile().remove());
    QFile::remove(AppPaths::status());
}

// A model over a finished setup whose helper reports connected, after its start-up checks.
std::unique_ptr<AppModel> AppModelTest::connectedModel()
{
    [&] { QVERIFY(configFile().save(resumableConfig(pairedDevice(m_service->baseUrl())))); }();
    auto model = makeModel();
    QSignalSpy finished(model.get(), &AppModel::operationFinished);
    m_seams.loginItem->currentState = LoginItemState::enabled;
    writeStatus(State::connected);
    model->readStatus();
    // The confirmation, then the helper check after its grace period.
    [&] { QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 2, 10000); }();
    [&] { QCOMPARE(model->machine().step, OnboardingStep::connected); }();
    return model;
}

void AppModelTest::startUpResumes_data()
{
    QTest::addColumn<bool>("paired");
    QTest::addColumn<StoredConfig>("config");
    QTest::addColumn<OnboardingStep>("step");
    QTest::newRow("first launch") << false << StoredConfig::none << OnboardingStep::connect;
    QTest::newRow("config, no credential") << false << StoredConfig::resumable << OnboardingStep::connect;
    QTest::newRow("credential, no config") << true << StoredConfig::none << OnboardingStep::providers;
    QTest::newRow("config of another device") << true << StoredConfig::otherDevice << OnboardingStep::providers;
    QTest::newRow("config without agent") << true << StoredConfig::noAgent << OnboardingStep::providers;
    QTest::newRow("config without folder") << true << StoredConfig::noFolder << OnboardingStep::providers;
    QTest::newRow("complete setup") << true << StoredConfig::resumable << OnboardingStep::connected;
}

void AppModelTest::startUpResumes()
{
    QFETCH(bool, paired);
    QFETCH(StoredConfig, config);
    QFETCH(OnboardingStep, step);
    const QUuid device = paired ? pairedDevice(m_service->baseUrl()) : QUuid::createUuid();
    QVERIFY(!device.isNull());
    AppConfig stored = resumableConfig(device);
    if (config == StoredConfig::otherDevice)
        stored.deviceId = QUuid::createUuid();
    if (config == StoredConfig::noAgent)
        stored.providerPaths = {};
    if (config == StoredConfig::noFolder)
        stored.allowedRoots.clear();
    if (config != StoredConfig::none)
        QVERIFY(configFile().save(stored));

    auto model = makeModel();
    QCOMPARE(model->machine().step, step);
    QCOMPARE(model->deviceId(), config == StoredConfig::none && !paired ? std::optional<QUuid>() : device);
    QVERIFY(m_seams.network->started);
    QVERIFY(!model->errorMessage());
    if (step == OnboardingStep::connect) {
        // The window, not the model, opens the first sign-in; a later one offers the remembered device.
        QVERIFY(m_seams.signIn->openedPages.isEmpty());
        QCOMPARE(model->selectedFolders().size(), config == StoredConfig::none ? 0 : 2);
        m_seams.signIn->behaviour = FakeSignIn::Behaviour::stayOpen;
        model->signIn();
        QCOMPARE(queryValue(m_seams.signIn->openedPages.last(), u"existingDeviceId"_s),
                 config == StoredConfig::none ? QString() : upper(device));
    } else if (step == OnboardingStep::providers) {
        // Once the service has confirmed the credential, the agent check starts by itself.
        QTRY_COMPARE_WITH_TIMEOUT(*m_seams.discoveries, 1, 10000);
        QTRY_COMPARE(model->providerReadiness(), codexOnly);
        QVERIFY(!model->busy());
        QCOMPARE(model->machine().step, OnboardingStep::providers);
    } else {
        // After the confirmation the helper is checked: an unregistered login item is registered.
        QTRY_COMPARE_WITH_TIMEOUT(m_seams.loginItem->calls, QStringList{u"register"_s}, 10000);
        QCOMPARE(model->helperStatus()->state(), State::starting);
        QCOMPARE(model->recoveryAction(), HelperRecoveryAction::none);
        QCOMPARE(model->machine().step, OnboardingStep::connected);
        QVERIFY(m_seams.signIn->openedPages.isEmpty());
    }
}

void AppModelTest::unreadableStartUpNeedsAttention_data()
{
    QTest::addColumn<QByteArray>("configBytes");
    QTest::addColumn<QString>("credential");
    QTest::addColumn<QString>("message");
    QTest::newRow("config not JSON") << QByteArray("{ not json") << QString() << QString();
    QTest::newRow("config lacks a key") << QByteArray(R"({"apiUrl":"x"})") << QString() << QString();
    QTest::newRow("credential names no device")
        << QByteArray() << u"twk_device_nonsense"_s << u"The saved device credential is invalid."_s;
}

void AppModelTest::unreadableStartUpNeedsAttention()
{
    QFETCH(QByteArray, configBytes);
    QFETCH(QString, credential);
    QFETCH(QString, message);
    QFile file(AppPaths::config());
    if (!configBytes.isEmpty()) {
        QVERIFY(QDir().mkpath(AppPaths::applicationSupportDirectory()));
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(configBytes) == configBytes.size());
        file.close();
    }
    if (!credential.isEmpty())
        QVERIFY(keychain().save(credential));

    auto model = makeModel();
    QCOMPARE(model->machine().step, OnboardingStep::needsAttention);
    QVERIFY(!model->errorMessage().value_or(QString()).isEmpty());
    if (!message.isEmpty())
        QCOMPARE(*model->errorMessage(), message);
    // A corrupt file is reported, never rewritten.
    if (!configBytes.isEmpty()) {
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), configBytes);
    }
}

void AppModelTest::rejectedCredentialStartsNewSignIn()
{
    const QUuid device = QUuid::createUuid();
    QVERIFY(keychain().save(madeUpCredential(device)));
    QVERIFY(configFile().save(resumableConfig(device)));
    auto model = makeModel();
    m_seams.loginItem->currentState = LoginItemState::enabled;
    m_seams.signIn->behaviour = FakeSignIn::Behaviour::stayOpen;
    QCOMPARE(model->machine().step, OnboardingStep::connected);

    QTRY_COMPARE_WITH_TIMEOUT(m_seams.signIn->openedPages.size(), 1, 10000);
    QCOMPARE(model->machine().step, OnboardingStep::connect);
    QCOMPARE(queryValue(m_seams.signIn->openedPages.first(), u"existingDeviceId"_s), upper(device));
    QVERIFY(model->busy());
    QVERIFY(!model->errorMessage());
    // The helper stays unregistered until the new sign-in has finished.
    QTest::qWait(500);
    QCOMPARE(m_seams.loginItem->calls, QStringList{u"unregister"_s});
}

void AppModelTest::unconfirmedCredentialNeedsAttention()
{
    QVERIFY(configFile().save(resumableConfig(pairedDevice(m_service->baseUrl()))));
    const QUrl address = m_service->baseUrl();
    m_service->stop();
    auto model = makeModel(codexOnly, address);
    QTRY_COMPARE_WITH_TIMEOUT(model->machine().step, OnboardingStep::needsAttention, 10000);
    QCOMPARE(*model->errorMessage(), u"Could not confirm this Mac with Tarnwick. Check your connection and try again."_s);
    QVERIFY(m_seams.signIn->openedPages.isEmpty());
}

void AppModelTest::pairing_data()
{
    QTest::addColumn<bool>("remembered");
    QTest::newRow("new device ends at the agents") << false;
    QTest::newRow("remembered setup ends connected") << true;
}

void AppModelTest::pairing()
{
    QFETCH(bool, remembered);
    const QUuid device = QUuid::createUuid();
    if (remembered)
        QVERIFY(configFile().save(resumableConfig(device)));
    auto model = makeModel();
    model->signIn();
    QVERIFY(model->busy());
    const QUrl page = m_seams.signIn->openedPages.first();
    QCOMPARE(page.path(), u"/connect/mac/10"_s);
    QCOMPARE(queryValue(page, u"deviceName"_s), u"Studio Mac"_s);
    QCOMPARE(queryValue(page, u"existingDeviceId"_s), remembered ? upper(device) : QString());
    QCOMPARE(m_seams.signIn->lastScheme, u"tarnwick"_s);

    QTRY_COMPARE_WITH_TIMEOUT(model->machine().step, remembered ? OnboardingStep::connected : OnboardingStep::providers, 10000);
    QTRY_VERIFY(!model->busy());
    QVERIFY(!model->errorMessage());
    const Result<std::optional<QString>> stored = keychain().read();
    QVERIFY(stored && *stored);
    QCOMPARE(model->deviceId(), DeviceCredentialParser::deviceId(**stored));
    if (remembered) {
        AppConfig expected = resumableConfig(device, m_service->baseUrl().toString());
        expected.appVersion = u"0.3.0"_s;
        QCOMPARE(**configFile().load(), expected);
        QCOMPARE(m_seams.loginItem->calls.first(), u"register"_s);
        QCOMPARE(*m_seams.discoveries, 0);
    } else {
        // The agent check runs straight after pairing.
        QCOMPARE(model->providerReadiness(), codexOnly);
    }
}

void AppModelTest::signInOutcomes_data()
{
    QTest::addColumn<QString>("callback"); // "cancel", "cannot open", "error", or the URL handed back
    QTest::addColumn<QString>("message");  // "*": any
    const QString invalid = u"The browser returned an invalid connection link."_s;
    QTest::newRow("user cancels") << u"cancel"_s << QString();
    QTest::newRow("browser cannot open") << u"cannot open"_s << QString();
    QTest::newRow("browser error") << u"error"_s << u"The browser could not be opened."_s;
    QTest::newRow("no callback URL") << QString() << invalid;
    QTest::newRow("another attempt's state")
        << u"tarnwick://auth/callback?state=other&code=%2"_s << u"The connection response did not match this Mac."_s;
    QTest::newRow("not our callback") << u"tarnwick://evil/callback?state=%1"_s << invalid;
    QTest::newRow("code never issued") << u"tarnwick://auth/callback?state=%1&code=%2"_s << u"*"_s;
}

void AppModelTest::signInOutcomes()
{
    QFETCH(QString, callback);
    QFETCH(QString, message);
    auto model = makeModel();
    m_seams.signIn->behaviour = callback == "cannot open"_L1 ? FakeSignIn::Behaviour::cannotOpen : FakeSignIn::Behaviour::stayOpen;
    model->signIn();
    const QString state = queryValue(m_seams.signIn->openedPages.last(), u"state"_s);
    if (callback == "cancel"_L1)
        model->cancelSignIn();
    else if (callback == "error"_L1)
        m_seams.signIn->finish(failure(Error{u"Browser"_s, 7, message}));
    else if (callback != "cannot open"_L1)
        m_seams.signIn->finish(QUrl(callback.arg(state, QString(43, u'c'))));
    QTRY_VERIFY(!model->busy());
    if (message.isEmpty())
        QVERIFY(!model->errorMessage());
    else
        QTRY_VERIFY_WITH_TIMEOUT(model->errorMessage().has_value(), 10000);
    if (message.size() > 1)
        QCOMPARE(*model->errorMessage(), message);
    QCOMPARE(model->machine().step, OnboardingStep::connect);
    const Result<std::optional<QString>> stored = keychain().read();
    QVERIFY(stored && !*stored);
}

void AppModelTest::finishSetupFailures_data()
{
    QTest::addColumn<int>("setup");
    QTest::addColumn<QString>("message");
    QTest::newRow("no device") << 0 << u"That setup step is not available yet."_s;
    QTest::newRow("no agent") << 1 << u"Verify Codex or Claude Code to continue."_s;
    QTest::newRow("no folder") << 2 << u"Choose at least one permitted folder."_s;
    QTest::newRow("registration refused") << 3 << u"Refused by the desktop."_s;
}

void AppModelTest::finishSetupFailures()
{
    QFETCH(int, setup);
    QFETCH(QString, message);
    if (setup != 0)
        QVERIFY(!pairedDevice(m_service->baseUrl()).isNull());
    auto model = makeModel(setup == 1 ? ProviderReadiness{{}, false, false, {}} : codexOnly);
    if (setup != 0) {
        QTRY_VERIFY_WITH_TIMEOUT(model->providerReadiness().has_value(), 10000);
        model->continueFromProviders();
    }
    if (setup == 1) {
        // Without an agent path the setup does not move on.
        QCOMPARE(model->machine().step, OnboardingStep::providers);
        QCOMPARE(*model->errorMessage(), message);
    }
    if (setup == 3) {
        m_seams.chooser->answer = QList<QUrl>{QUrl::fromLocalFile(u"/srv/a"_s)};
        model->chooseFolders();
        QTRY_COMPARE(model->selectedFolders().size(), 1);
        QCOMPARE(m_seams.chooser->lastTexts, (QStringList{u"Choose folders Tarnwick may use"_s, u"Allow folders"_s}));
        m_seams.loginItem->registerFailure = Error{u"LoginItem"_s, 1, message};
    }
    model->finishSetup();
    QCOMPARE(model->machine().step, OnboardingStep::needsAttention);
    QCOMPARE(*model->errorMessage(), message);
    // Only a refused registration comes after the configuration is written.
    QCOMPARE(configFile().load()->has_value(), setup == 3);
}

void AppModelTest::changeFoldersRewritesConfigAtomically()
{
    auto model = connectedModel();
    const AppConfig before = **configFile().load();
    const ino_t inode = inodeOf(AppPaths::config());
    // A cancelled chooser keeps the folders, written again unchanged through a new file.
    model->changeFolders();
    QVERIFY(waitForOperation(*model));
    QCOMPARE(m_seams.chooser->calls, 1);
    QCOMPARE(**configFile().load(), before);
    QVERIFY(inodeOf(AppPaths::config()) != inode);

    m_seams.chooser->answer = QList<QUrl>{QUrl::fromLocalFile(u"/srv/new"_s)};
    model->changeFolders();
    QVERIFY(waitForOperation(*model));
    AppConfig expected = before;
    expected.allowedRoots = {u"/srv/new"_s};
    expected.defaultDirectory = u"/srv/new"_s;
    QCOMPARE(**configFile().load(), expected);
    QCOMPARE(model->machine().step, OnboardingStep::connected);
    QVERIFY(!model->errorMessage());
}

void AppModelTest::recoveryActions_data()
{
    QTest::addColumn<LoginItemState>("state");
    QTest::addColumn<bool>("registerFails");
    QTest::addColumn<HelperRecoveryAction>("action");
    QTest::addColumn<QString>("message");
    QTest::newRow("needs approval") << LoginItemState::requiresApproval << false << HelperRecoveryAction::enableInSystemSettings
                                    << u"Enable Tarnwick in Login Items so it can run after login."_s;
    QTest::newRow("helper missing") << LoginItemState::notFound << false << HelperRecoveryAction::reinstall
                                    << u"The background helper is missing. Reinstall Tarnwick."_s;
    QTest::newRow("registration refused") << LoginItemState::notRegistered << true << HelperRecoveryAction::registerHelper
                                          << u"The background helper could not start. Reinstall Tarnwick if this continues."_s;
    QTest::newRow("registered again") << LoginItemState::notRegistered << false << HelperRecoveryAction::none << QString();
}

void AppModelTest::recoveryActions()
{
    QFETCH(LoginItemState, state);
    QFETCH(bool, registerFails);
    QFETCH(HelperRecoveryAction, action);
    QFETCH(QString, message);
    auto model = connectedModel();
    m_seams.loginItem->currentState = state;
    if (registerFails)
        m_seams.loginItem->registerFailure = Error{u"LoginItem"_s, 1, u"no"_s};
    model->ensureHelperLifecycle();
    // Decided at once, without the grace period.
    QCOMPARE(model->recoveryAction(), action);
    if (message.isEmpty()) {
        QCOMPARE(model->machine().step, OnboardingStep::connected);
        QCOMPARE(model->helperStatus()->state(), State::starting);
        return;
    }
    QCOMPARE(model->machine().step, OnboardingStep::needsAttention);
    QCOMPARE(*model->errorMessage(), message);
    // While an action is pending a fresh connected helper does not bring the step back.
    writeStatus(State::connected);
    model->readStatus();
    QCOMPARE(model->machine().step, OnboardingStep::needsAttention);
}

// A helper that never connects is restarted after the grace period, once even when checked twice.
void AppModelTest::secondCheckRestartsHelperOnce()
{
    auto model = connectedModel();
    writeStatus(State::starting);
    m_seams.loginItem->calls.clear();
    QSignalSpy finished(model.get(), &AppModel::operationFinished);
    model->ensureHelperLifecycle();
    QCOMPARE(model->recoveryAction(), HelperRecoveryAction::none);
    QVERIFY(m_seams.loginItem->calls.isEmpty());
    QTest::qWait(150);
    model->ensureHelperLifecycle();
    QVERIFY(finished.wait(5000));
    // Let a cancelled check show itself if it were still pending.
    QTest::qWait(400);
    QCOMPARE(finished.size(), 1);
    QCOMPARE(m_seams.loginItem->calls, (QStringList{u"unregister"_s, u"register"_s}));
    QCOMPARE(model->recoveryAction(), HelperRecoveryAction::none);
    QCOMPARE(model->helperStatus()->state(), State::starting);
}

void AppModelTest::helperHealth_data()
{
    QTest::addColumn<State>("state");
    QTest::addColumn<int>("age"); // 1000: no heartbeat
    QTest::addColumn<bool>("healthy");
    QTest::newRow("starting, 45 s") << State::starting << 45 << true;
    QTest::newRow("starting, 46 s") << State::starting << 46 << false;
    QTest::newRow("connected, 45 s") << State::connected << 45 << true;
    QTest::newRow("connected, 46 s") << State::connected << 46 << false;
    QTest::newRow("connected, from the future") << State::connected << -30 << true;
    QTest::newRow("connected, no heartbeat") << State::connected << 1000 << false;
    QTest::newRow("needs attention, fresh") << State::needsAttention << 0 << false;
    QTest::newRow("stopped, fresh") << State::stopped << 0 << false;
}

void AppModelTest::helperHealth()
{
    QFETCH(State, state);
    QFETCH(int, age);
    QFETCH(bool, healthy);
    auto model = connectedModel();
    if (age == 1000)
        writeHelperStatus(HelperStatus(state, std::nullopt));
    else
        writeStatus(state, age);
    model->readStatus();
    QCOMPARE(model->machine().step, healthy ? OnboardingStep::connected : OnboardingStep::needsAttention);
    if (!healthy)
        QCOMPARE(*model->errorMessage(), u"The background service couldn't start."_s);
}

void AppModelTest::freshStatusClearsAttention_data()
{
    QTest::addColumn<State>("state");
    QTest::newRow("connected") << State::connected;
    QTest::newRow("starting") << State::starting;
}

void AppModelTest::freshStatusClearsAttention()
{
    QFETCH(State, state);
    auto model = connectedModel();
    // The periodic reading notices a stopped helper by itself.
    writeStatus(State::stopped);
    QTRY_COMPARE_WITH_TIMEOUT(model->machine().step, OnboardingStep::needsAttention, 3000);
    QCOMPARE(model->helperStatus()->state(), State::stopped);
    // Only a fresh connected status brings the step back.
    m_seams.clock->current = m_seams.clock->current.addSecs(10);
    writeStatus(state);
    model->readStatus();
    const bool restored = state == State::connected;
    QCOMPARE(model->machine().step, restored ? OnboardingStep::connected : OnboardingStep::needsAttention);
    QCOMPARE(model->errorMessage().has_value(), !restored);
}

void AppModelTest::logOut_data()
{
    QTest::addColumn<bool>("withCredential");
    QTest::addColumn<bool>("serviceUp");
    QTest::newRow("disconnects the device") << true << true;
    QTest::newRow("no credential: sends nothing") << false << false;
    QTest::newRow("service unreachable: deletes nothing") << true << false;
}

void AppModelTest::logOut()
{
    QFETCH(bool, withCredential);
    QFETCH(bool, serviceUp);
    std::unique_ptr<AppModel> model;
    if (withCredential) {
        model = connectedModel();
    } else {
        QVERIFY(configFile().save(resumableConfig(QUuid::createUuid())));
        model = makeModel();
        m_seams.loginItem->currentState = LoginItemState::enabled;
    }
    const QString credential = keychain().read()->value_or(QString());
    if (!serviceUp)
        m_service->stop();
    model->logOut();
    QTRY_VERIFY_WITH_TIMEOUT(!model->busy(), 10000);

    const bool failed = withCredential && !serviceUp;
    QCOMPARE(model->errorMessage().has_value(), failed);
    QCOMPARE(keychain().read()->has_value(), failed);
    QCOMPARE(configFile().load()->has_value(), failed);
    QCOMPARE(m_seams.loginItem->currentState, failed ? LoginItemState::enabled : LoginItemState::notRegistered);
    QCOMPARE(model->machine().step, failed ? OnboardingStep::connected : OnboardingStep::connect);
    if (failed)
        return;
    QVERIFY(!model->helperStatus());
    QCOMPARE(model->recoveryAction(), HelperRecoveryAction::none);
    // What the user chose stays for the next sign-in.
    QVERIFY(model->deviceId());
    QCOMPARE(model->selectedFolders().size(), 2);
    if (withCredential) {
        // The service no longer knows the credential.
        const Result<Device> device = QCoro::waitFor(DeviceAPIClient(m_service->baseUrl()).currentDevice(credential));
        QCOMPARE(device ? 200 : device.error().code, 401);
    }
}

QTEST_GUILESS_MAIN(AppModelTest)
#include "tst_appmodel.moc"
