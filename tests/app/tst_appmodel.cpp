#include "AppTestSupport.h"

#include "api/DeviceAPIClient.h"
#include "config/AppPaths.h"
#include "config/FileConfigStore.h"
#include "credentials/DeviceCredentialParser.h"
#include "credentials/SystemCredentialStore.h"

#include <QCoroTask>
#include <QFile>
#include <QSignalSpy>
#include <QTest>
#include <QUrlQuery>

#include <sys/stat.h>

namespace {

QString queryValue(const QUrl &url, const QString &name)
{
    return QUrlQuery(url).queryItemValue(name, QUrl::FullyDecoded);
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
    void cleanup();

    void firstLaunchStartsAtConnect();
    void configWithoutCredentialStaysAtConnect();
    void credentialWithoutResumableConfigChecksProviders_data();
    void credentialWithoutResumableConfigChecksProviders();
    void completeSetupResumesAtConnected();
    void unreadableStartUpNeedsAttention_data();
    void unreadableStartUpNeedsAttention();
    void rejectedCredentialStartsNewSignIn();
    void unconfirmedCredentialNeedsAttention();

    void pairingNewDeviceEndsAtProviders();
    void pairingResumesCompleteSetup();
    void signInOutcomes_data();
    void signInOutcomes();
    void signInThatCannotOpenLeavesNoMessage();

    void continueFromProvidersNeedsAnAgentPath();
    void finishSetupWritesConfigAndRegisters();
    void finishSetupFailures_data();
    void finishSetupFailures();
    void changeFoldersRewritesConfig();
    void changeFoldersWithoutConfigFails();

    void recoveryActions_data();
    void recoveryActions();
    void secondCheckRestartsHelperThatNeverConnected();
    void newerCheckCancelsPendingSecondCheck();

    void helperHealth_data();
    void helperHealth();
    void stoppedHelperNeedsAttentionAtNextTick();
    void freshConnectedStatusClearsAttention_data();
    void freshConnectedStatusClearsAttention();

    void logOutWithCredentialDisconnects();
    void logOutWithoutCredentialSendsNothing();
    void failedLogOutDeletesNothing();

private:
    std::unique_ptr<AppModel> makeModel(const QUrl &baseURL, ProviderReadiness discovered = codexOnly);
    std::unique_ptr<AppModel> connectedModel();

    std::unique_ptr<LocalService> m_service;
    Seams m_seams;
};

void AppModelTest::init()
{
    m_service = std::make_unique<LocalService>();
    QVERIFY(m_service->isRunning());
    QVERIFY(keychain().remove());
    QVERIFY(configFile().remove());
    QFile::remove(AppPaths::status());
}

void AppModelTest::cleanup()
{
    m_service.reset();
}

std::unique_ptr<AppModel> AppModelTest::makeModel(const QUrl &baseURL, ProviderReadiness discovered)
{
    m_seams = Seams{};
    return std::make_unique<AppModel>(testParts(baseURL, m_seams, std::move(discovered)));
}

// A model over a finished setup whose helper reports connected, after its start-up checks.
std::unique_ptr<AppModel> AppModelTest::connectedModel()
{
    const QUuid device = pairedDevice(m_service->baseURL());
    [&] { QVERIFY(configFile().save(resumableConfig(device))); }();
    auto model = makeModel(m_service->baseURL());
    QSignalSpy finished(model.get(), &AppModel::operationFinished);
    m_seams.loginItem->state = LoginItemState::enabled;
    writeHelperStatus(HelperStatus(HelperStatus::State::connected, m_seams.clock->now()));
    model->readStatus();
    // The confirmation, then the helper check after its grace period.
    [&] { QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 2, 10000); }();
    return model;
}

void AppModelTest::firstLaunchStartsAtConnect()
{
    auto model = makeModel(m_service->baseURL());
    QCOMPARE(model->machine().step, OnboardingStep::connect);
    QVERIFY(!model->providerReadiness());
    QVERIFY(model->selectedFolders().isEmpty());
    QVERIFY(!model->helperStatus());
    QVERIFY(!model->errorMessage());
    QCOMPARE(model->recoveryAction(), HelperRecoveryAction::none);
    QVERIFY(!model->networkAvailable());
    QVERIFY(!model->busy());
    QVERIFY(!model->deviceId());
    QVERIFY(m_seams.network->started);
    // The window, not the model, opens the first sign-in.
    QVERIFY(m_seams.signIn->openedPages.isEmpty());
}

void AppModelTest::configWithoutCredentialStaysAtConnect()
{
    const QUuid device = QUuid::createUuid();
    QVERIFY(configFile().save(resumableConfig(device)));
    auto model = makeModel(m_service->baseURL());
    QCOMPARE(model->machine().step, OnboardingStep::connect);
    QCOMPARE(model->deviceId(), device);
    QCOMPARE(model->selectedFolders(), (QList<QUrl>{QUrl::fromLocalFile(QStringLiteral("/home/user/work")),
                                                    QUrl::fromLocalFile(QStringLiteral("/home/user/site"))}));
    const ProviderReadiness rebuilt{resumableConfig(device).providerPaths, true, false, {}};
    QCOMPARE(model->providerReadiness(), rebuilt);

    // A later sign-in offers the remembered device to the service.
    m_seams.signIn->behaviour = FakeSignIn::Behaviour::stayOpen;
    model->signIn();
    QCOMPARE(queryValue(m_seams.signIn->openedPages.last(), QStringLiteral("existingDeviceId")),
             device.toString(QUuid::WithoutBraces).toUpper());
}

void AppModelTest::credentialWithoutResumableConfigChecksProviders_data()
{
    QTest::addColumn<int>("config");
    QTest::newRow("no configuration") << 0;
    QTest::newRow("another device") << 1;
    QTest::newRow("no agent path") << 2;
    QTest::newRow("no folder") << 3;
}

void AppModelTest::credentialWithoutResumableConfigChecksProviders()
{
    QFETCH(int, config);
    const QUuid device = pairedDevice(m_service->baseURL());
    QVERIFY(!device.isNull());
    AppConfig stored = resumableConfig(device);
    if (config == 1)
        stored.deviceId = QUuid::createUuid();
    if (config == 2)
        stored.providerPaths = {};
    if (config == 3)
        stored.allowedRoots.clear();
    if (config > 0)
        QVERIFY(configFile().save(stored));

    auto model = makeModel(m_service->baseURL());
    QCOMPARE(model->machine().step, OnboardingStep::providers);
    QCOMPARE(model->deviceId(), device);
    // Once the service has confirmed the credential, the agent check starts by itself.
    QTRY_COMPARE_WITH_TIMEOUT(*m_seams.discoveries, 1, 10000);
    QTRY_COMPARE(model->providerReadiness(), codexOnly);
    QVERIFY(!model->busy());
    QCOMPARE(model->machine().step, OnboardingStep::providers);
}

void AppModelTest::completeSetupResumesAtConnected()
{
    const QUuid device = pairedDevice(m_service->baseURL());
    QVERIFY(configFile().save(resumableConfig(device)));
    auto model = makeModel(m_service->baseURL());
    QCOMPARE(model->machine().step, OnboardingStep::connected);
    // After the confirmation the helper is checked: a login item that is not registered is registered.
    QTRY_COMPARE_WITH_TIMEOUT(m_seams.loginItem->calls, QStringList{QStringLiteral("register")}, 10000);
    QCOMPARE(model->helperStatus()->state(), HelperStatus::State::starting);
    QCOMPARE(model->recoveryAction(), HelperRecoveryAction::none);
    QCOMPARE(model->machine().step, OnboardingStep::connected);
    QVERIFY(m_seams.signIn->openedPages.isEmpty());
}

void AppModelTest::unreadableStartUpNeedsAttention_data()
{
    QTest::addColumn<QByteArray>("configBytes");
    QTest::addColumn<QString>("credential");
    QTest::addColumn<QString>("message");
    QTest::newRow("config not JSON") << QByteArray("{ not json") << QString() << QString();
    QTest::newRow("config lacks a key") << QByteArray(R"({"apiUrl":"x"})") << QString() << QString();
    QTest::newRow("credential names no device")
        << QByteArray() << QStringLiteral("twk_device_nonsense")
        << QStringLiteral("The saved device credential is invalid.");
}

void AppModelTest::unreadableStartUpNeedsAttention()
{
    QFETCH(QByteArray, configBytes);
    QFETCH(QString, credential);
    QFETCH(QString, message);
    if (!configBytes.isEmpty()) {
        QFile file(AppPaths::config());
        QVERIFY(QDir().mkpath(AppPaths::applicationSupportDirectory()));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(configBytes);
    }
    if (!credential.isEmpty())
        QVERIFY(keychain().save(credential));

    auto model = makeModel(m_service->baseURL());
    QCOMPARE(model->machine().step, OnboardingStep::needsAttention);
    QVERIFY(model->errorMessage());
    QVERIFY(!model->errorMessage()->isEmpty());
    if (!message.isEmpty())
        QCOMPARE(*model->errorMessage(), message);
    // A corrupt file is reported, never rewritten.
    if (!configBytes.isEmpty()) {
        QFile file(AppPaths::config());
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), configBytes);
    }
}

void AppModelTest::rejectedCredentialStartsNewSignIn()
{
    const QUuid device = QUuid::createUuid();
    QVERIFY(keychain().save(madeUpCredential(device)));
    QVERIFY(configFile().save(resumableConfig(device)));
    auto model = makeModel(m_service->baseURL());
    m_seams.loginItem->state = LoginItemState::enabled;
    m_seams.signIn->behaviour = FakeSignIn::Behaviour::stayOpen;
    QCOMPARE(model->machine().step, OnboardingStep::connected);

    QTRY_COMPARE_WITH_TIMEOUT(m_seams.signIn->openedPages.size(), 1, 10000);
    QCOMPARE(model->machine().step, OnboardingStep::connect);
    QCOMPARE(m_seams.loginItem->state, LoginItemState::notRegistered);
    // The helper stays unregistered until the new sign-in has finished.
    QTest::qWait(500);
    QCOMPARE(m_seams.loginItem->calls, QStringList{QStringLiteral("unregister")});
    QCOMPARE(queryValue(m_seams.signIn->openedPages.first(), QStringLiteral("existingDeviceId")),
             device.toString(QUuid::WithoutBraces).toUpper());
    QCOMPARE(m_seams.signIn->lastScheme, QStringLiteral("tarnwick"));
    QVERIFY(model->busy());
    QVERIFY(!model->errorMessage());
}

void AppModelTest::unconfirmedCredentialNeedsAttention()
{
    const QUuid device = pairedDevice(m_service->baseURL());
    QVERIFY(configFile().save(resumableConfig(device)));
    const QUrl address = m_service->baseURL();
    m_service->stop();
    auto model = makeModel(address);
    QTRY_COMPARE_WITH_TIMEOUT(model->machine().step, OnboardingStep::needsAttention, 10000);
    QCOMPARE(*model->errorMessage(),
             QStringLiteral("Could not confirm this Mac with Tarnwick. Check your connection and try again."));
    QVERIFY(m_seams.signIn->openedPages.isEmpty());
}

void AppModelTest::pairingNewDeviceEndsAtProviders()
{
    auto model = makeModel(m_service->baseURL());
    QSignalSpy busy(model.get(), &AppModel::busyChanged);
    model->signIn();
    QVERIFY(model->busy());
    const QUrl page = m_seams.signIn->openedPages.first();
    QCOMPARE(page.path(), QStringLiteral("/connect/mac/10"));
    QCOMPARE(queryValue(page, QStringLiteral("deviceName")), QStringLiteral("Studio Mac"));
    QVERIFY(!QUrlQuery(page).hasQueryItem(QStringLiteral("existingDeviceId")));

    QTRY_COMPARE_WITH_TIMEOUT(model->machine().step, OnboardingStep::providers, 10000);
    // The agent check runs straight after pairing.
    QVERIFY(model->busy());
    const Result<std::optional<QString>> stored = keychain().read();
    QVERIFY(stored && *stored);
    QCOMPARE(model->deviceId(), DeviceCredentialParser::deviceId(**stored));
    QTRY_VERIFY(!model->busy());
    QCOMPARE(model->providerReadiness(), codexOnly);
    QVERIFY(!model->errorMessage());
}

void AppModelTest::pairingResumesCompleteSetup()
{
    const QUuid device = QUuid::createUuid();
    QVERIFY(configFile().save(resumableConfig(device)));
    auto model = makeModel(m_service->baseURL());
    QCOMPARE(model->machine().step, OnboardingStep::connect);

    model->signIn();
    QTRY_COMPARE_WITH_TIMEOUT(model->machine().step, OnboardingStep::connected, 10000);
    const AppConfig written = **configFile().load();
    AppConfig expected = resumableConfig(device, m_service->baseURL().toString());
    expected.appVersion = QStringLiteral("0.3.0");
    QCOMPARE(written, expected);
    QCOMPARE(m_seams.loginItem->calls.first(), QStringLiteral("register"));
    QCOMPARE(*m_seams.discoveries, 0);
    QVERIFY(!model->busy());
}

void AppModelTest::signInOutcomes_data()
{
    QTest::addColumn<int>("outcome");
    QTest::addColumn<QString>("message");
    QTest::newRow("user cancels") << 0 << QString();
    QTest::newRow("no callback URL") << 1 << QStringLiteral("The browser returned an invalid connection link.");
    QTest::newRow("another attempt's state")
        << 2 << QStringLiteral("The connection response did not match this Mac.");
    QTest::newRow("not our callback") << 3 << QStringLiteral("The browser returned an invalid connection link.");
    QTest::newRow("browser error") << 4 << QStringLiteral("The browser could not be opened.");
    QTest::newRow("code never issued") << 5 << QStringLiteral("*");
}

void AppModelTest::signInOutcomes()
{
    QFETCH(int, outcome);
    QFETCH(QString, message);
    auto model = makeModel(m_service->baseURL());
    m_seams.signIn->behaviour = FakeSignIn::Behaviour::stayOpen;
    model->signIn();
    QVERIFY(model->busy());
    const QString state = queryValue(m_seams.signIn->openedPages.last(), QStringLiteral("state"));
    const QString code = QString(43, QLatin1Char('c'));
    switch (outcome) {
    case 0:
        model->cancelSignIn();
        break;
    case 1:
        m_seams.signIn->finish(QUrl());
        break;
    case 2:
        m_seams.signIn->finish(QUrl(QStringLiteral("tarnwick://auth/callback?state=other&code=") + code));
        break;
    case 3:
        m_seams.signIn->finish(QUrl(QStringLiteral("tarnwick://evil/callback?state=") + state));
        break;
    case 4:
        m_seams.signIn->finish(failure(Error{QStringLiteral("Browser"), 7, message}));
        break;
    case 5:
        m_seams.signIn->finish(QUrl(QStringLiteral("tarnwick://auth/callback?state=") + state
                                    + QStringLiteral("&code=") + code));
        break;
    }
    QTRY_VERIFY(!model->busy());
    if (message.isEmpty()) {
        QVERIFY(!model->errorMessage());
    } else {
        QTRY_VERIFY_WITH_TIMEOUT(model->errorMessage().has_value(), 10000);
        if (message != QLatin1String("*"))
            QCOMPARE(*model->errorMessage(), message);
    }
    QCOMPARE(model->machine().step, OnboardingStep::connect);
    const Result<std::optional<QString>> stored = keychain().read();
    QVERIFY(stored && !*stored);
}

void AppModelTest::signInThatCannotOpenLeavesNoMessage()
{
    auto model = makeModel(m_service->baseURL());
    m_seams.signIn->behaviour = FakeSignIn::Behaviour::cannotOpen;
    model->signIn();
    QVERIFY(!model->busy());
    QVERIFY(!model->errorMessage());
}

void AppModelTest::continueFromProvidersNeedsAnAgentPath()
{
    QVERIFY(!pairedDevice(m_service->baseURL()).isNull());
    const ProviderReadiness nothing{{}, false, false, {QStringLiteral("Install Codex or Claude Code, then check again.")}};
    auto model = makeModel(m_service->baseURL(), nothing);
    QCOMPARE(model->machine().step, OnboardingStep::providers);
    model->continueFromProviders();
    QCOMPARE(*model->errorMessage(), QStringLiteral("Verify Codex or Claude Code to continue."));
    QCOMPARE(model->machine().step, OnboardingStep::providers);
    QTRY_COMPARE_WITH_TIMEOUT(model->providerReadiness(), nothing, 10000);
    model->continueFromProviders();
    QCOMPARE(model->machine().step, OnboardingStep::providers);
}

void AppModelTest::finishSetupWritesConfigAndRegisters()
{
    const QUuid device = pairedDevice(m_service->baseURL());
    auto model = makeModel(m_service->baseURL());
    QTRY_COMPARE_WITH_TIMEOUT(model->providerReadiness(), codexOnly, 10000);
    model->continueFromProviders();
    QCOMPARE(model->machine().step, OnboardingStep::folders);

    m_seams.chooser->answer = QList<QUrl>{QUrl::fromLocalFile(QStringLiteral("/srv/b")),
                                          QUrl::fromLocalFile(QStringLiteral("/srv/a"))};
    model->chooseFolders();
    QTRY_COMPARE(model->selectedFolders().size(), 2);
    QCOMPARE(m_seams.chooser->lastTitle, QStringLiteral("Choose folders Tarnwick may use"));
    QCOMPARE(m_seams.chooser->lastAcceptLabel, QStringLiteral("Allow folders"));

    writeHelperStatus(HelperStatus(HelperStatus::State::connected, m_seams.clock->now()));
    model->finishSetup();
    QCOMPARE(model->machine().step, OnboardingStep::connected);
    const AppConfig expected{m_service->baseURL().toString(), device, QStringLiteral("0.3.0"),
                             {QStringLiteral("/srv/b"), QStringLiteral("/srv/a")}, QStringLiteral("/srv/b"),
                             codexOnly.paths};
    QCOMPARE(**configFile().load(), expected);
    QCOMPARE(m_seams.loginItem->state, LoginItemState::enabled);
    // Right after registering, the enabled item gets its grace period; a connected helper needs nothing.
    QCOMPARE(m_seams.loginItem->calls, QStringList{QStringLiteral("register")});
    QVERIFY(waitForOperation(*model));
    QCOMPARE(m_seams.loginItem->calls, QStringList{QStringLiteral("register")});
    QCOMPARE(model->recoveryAction(), HelperRecoveryAction::none);
    QCOMPARE(model->machine().step, OnboardingStep::connected);
}

void AppModelTest::finishSetupFailures_data()
{
    QTest::addColumn<int>("setup");
    QTest::addColumn<QString>("message");
    QTest::addColumn<bool>("configSaved");
    QTest::newRow("no device") << 0 << QStringLiteral("That setup step is not available yet.") << false;
    QTest::newRow("no agent") << 1 << QStringLiteral("Verify Codex or Claude Code to continue.") << false;
    QTest::newRow("no folder") << 2 << QStringLiteral("Choose at least one permitted folder.") << false;
    QTest::newRow("registration refused") << 3 << QStringLiteral("Refused by the desktop.") << true;
}

void AppModelTest::finishSetupFailures()
{
    QFETCH(int, setup);
    QFETCH(QString, message);
    QFETCH(bool, configSaved);
    if (setup != 0)
        QVERIFY(!pairedDevice(m_service->baseURL()).isNull());
    const ProviderReadiness nothing{{}, false, false, {}};
    auto model = makeModel(m_service->baseURL(), setup == 1 ? nothing : codexOnly);
    if (setup != 0) {
        QTRY_VERIFY_WITH_TIMEOUT(model->providerReadiness().has_value(), 10000);
        model->continueFromProviders();
    }
    if (setup == 3) {
        m_seams.chooser->answer = QList<QUrl>{QUrl::fromLocalFile(QStringLiteral("/srv/a"))};
        model->chooseFolders();
        QTRY_COMPARE(model->selectedFolders().size(), 1);
        m_seams.loginItem->registerFailure = Error{QStringLiteral("LoginItem"), 1, message};
    }
    model->finishSetup();
    QCOMPARE(model->machine().step, OnboardingStep::needsAttention);
    QCOMPARE(*model->errorMessage(), message);
    QCOMPARE(configFile().load()->has_value(), configSaved);
}

void AppModelTest::changeFoldersRewritesConfig()
{
    auto model = connectedModel();
    const AppConfig before = **configFile().load();
    const ino_t inode = inodeOf(AppPaths::config());

    // A cancelled chooser leaves the folders, which are written again unchanged.
    model->changeFolders();
    QVERIFY(waitForOperation(*model));
    QCOMPARE(m_seams.chooser->calls, 1);
    QCOMPARE(**configFile().load(), before);
    QVERIFY(inodeOf(AppPaths::config()) != inode);

    m_seams.chooser->answer = QList<QUrl>{QUrl::fromLocalFile(QStringLiteral("/srv/new"))};
    model->changeFolders();
    QVERIFY(waitForOperation(*model));
    AppConfig expected = before;
    expected.allowedRoots = {QStringLiteral("/srv/new")};
    expected.defaultDirectory = QStringLiteral("/srv/new");
    QCOMPARE(**configFile().load(), expected);
    QCOMPARE(model->machine().step, OnboardingStep::connected);
    QVERIFY(!model->errorMessage());
}

void AppModelTest::changeFoldersWithoutConfigFails()
{
    auto model = makeModel(m_service->baseURL());
    m_seams.chooser->answer = QList<QUrl>{QUrl::fromLocalFile(QStringLiteral("/srv/a"))};
    model->changeFolders();
    QVERIFY(waitForOperation(*model));
    QCOMPARE(*model->errorMessage(), QStringLiteral("That setup step is not available yet."));
    QCOMPARE(model->machine().step, OnboardingStep::connect);
}

void AppModelTest::recoveryActions_data()
{
    QTest::addColumn<LoginItemState>("state");
    QTest::addColumn<bool>("registerFails");
    QTest::addColumn<HelperRecoveryAction>("action");
    QTest::addColumn<QString>("message");
    QTest::newRow("needs approval") << LoginItemState::requiresApproval << false
                                    << HelperRecoveryAction::enableInSystemSettings
                                    << QStringLiteral("Enable Tarnwick in Login Items so it can run after login.");
    QTest::newRow("helper missing") << LoginItemState::notFound << false << HelperRecoveryAction::reinstall
                                    << QStringLiteral("The background helper is missing. Reinstall Tarnwick.");
    QTest::newRow("registration refused")
        << LoginItemState::notRegistered << true << HelperRecoveryAction::registerHelper
        << QStringLiteral("The background helper could not start. Reinstall Tarnwick if this continues.");
    QTest::newRow("registered again") << LoginItemState::notRegistered << false << HelperRecoveryAction::none
                                      << QString();
}

void AppModelTest::recoveryActions()
{
    QFETCH(LoginItemState, state);
    QFETCH(bool, registerFails);
    QFETCH(HelperRecoveryAction, action);
    QFETCH(QString, message);
    auto model = connectedModel();
    QCOMPARE(model->machine().step, OnboardingStep::connected);
    m_seams.loginItem->state = state;
    if (registerFails)
        m_seams.loginItem->registerFailure = Error{QStringLiteral("LoginItem"), 1, QStringLiteral("no")};

    model->ensureHelperLifecycle();
    // Decided at once, without the grace period.
    QCOMPARE(model->recoveryAction(), action);
    if (message.isEmpty()) {
        QCOMPARE(model->machine().step, OnboardingStep::connected);
        QCOMPARE(model->helperStatus()->state(), HelperStatus::State::starting);
        return;
    }
    QCOMPARE(model->machine().step, OnboardingStep::needsAttention);
    QCOMPARE(*model->errorMessage(), message);
    // While an action is pending a fresh connected helper does not bring the step back.
    writeHelperStatus(HelperStatus(HelperStatus::State::connected, m_seams.clock->now()));
    model->readStatus();
    QCOMPARE(model->machine().step, OnboardingStep::needsAttention);
}

void AppModelTest::secondCheckRestartsHelperThatNeverConnected()
{
    auto model = connectedModel();
    writeHelperStatus(HelperStatus(HelperStatus::State::starting, m_seams.clock->now()));
    m_seams.loginItem->calls.clear();
    model->ensureHelperLifecycle();
    QCOMPARE(model->recoveryAction(), HelperRecoveryAction::none);
    QVERIFY(m_seams.loginItem->calls.isEmpty());

    QVERIFY(waitForOperation(*model));
    QCOMPARE(m_seams.loginItem->calls, (QStringList{QStringLiteral("unregister"), QStringLiteral("register")}));
    QCOMPARE(model->recoveryAction(), HelperRecoveryAction::none);
    QCOMPARE(model->helperStatus()->state(), HelperStatus::State::starting);
}

void AppModelTest::newerCheckCancelsPendingSecondCheck()
{
    auto model = connectedModel();
    writeHelperStatus(HelperStatus(HelperStatus::State::starting, m_seams.clock->now()));
    m_seams.loginItem->calls.clear();
    QSignalSpy finished(model.get(), &AppModel::operationFinished);
    model->ensureHelperLifecycle();
    QTest::qWait(150);
    model->ensureHelperLifecycle();
    QVERIFY(finished.wait(5000));
    // Let a cancelled check show itself if it were still pending.
    QTest::qWait(400);
    QCOMPARE(finished.size(), 1);
    QCOMPARE(m_seams.loginItem->calls, (QStringList{QStringLiteral("unregister"), QStringLiteral("register")}));
}

void AppModelTest::helperHealth_data()
{
    QTest::addColumn<HelperStatus::State>("state");
    QTest::addColumn<int>("age");
    QTest::addColumn<bool>("hasHeartbeat");
    QTest::addColumn<bool>("healthy");
    QTest::newRow("starting, 45 s") << HelperStatus::State::starting << 45 << true << true;
    QTest::newRow("starting, 46 s") << HelperStatus::State::starting << 46 << true << false;
    QTest::newRow("connected, 45 s") << HelperStatus::State::connected << 45 << true << true;
    QTest::newRow("connected, 46 s") << HelperStatus::State::connected << 46 << true << false;
    QTest::newRow("connected, from the future") << HelperStatus::State::connected << -30 << true << true;
    QTest::newRow("connected, no heartbeat") << HelperStatus::State::connected << 0 << false << false;
    QTest::newRow("needs attention, fresh") << HelperStatus::State::needsAttention << 0 << true << false;
    QTest::newRow("stopped, fresh") << HelperStatus::State::stopped << 0 << true << false;
}

void AppModelTest::helperHealth()
{
    QFETCH(HelperStatus::State, state);
    QFETCH(int, age);
    QFETCH(bool, hasHeartbeat);
    QFETCH(bool, healthy);
    auto model = connectedModel();
    QCOMPARE(model->machine().step, OnboardingStep::connected);
    const QDateTime now = m_seams.clock->now();
    writeHelperStatus(HelperStatus(state, hasHeartbeat ? std::optional(now.addSecs(-age)) : std::nullopt));
    model->readStatus();
    QCOMPARE(model->machine().step, healthy ? OnboardingStep::connected : OnboardingStep::needsAttention);
    if (!healthy)
        QCOMPARE(*model->errorMessage(), QStringLiteral("The background service couldn't start."));
}

void AppModelTest::stoppedHelperNeedsAttentionAtNextTick()
{
    auto model = connectedModel();
    writeHelperStatus(HelperStatus(HelperStatus::State::stopped, m_seams.clock->now()));
    QTRY_COMPARE_WITH_TIMEOUT(model->machine().step, OnboardingStep::needsAttention, 3000);
    QCOMPARE(model->helperStatus()->state(), HelperStatus::State::stopped);
}

void AppModelTest::freshConnectedStatusClearsAttention_data()
{
    QTest::addColumn<HelperStatus::State>("state");
    QTest::addColumn<bool>("restored");
    QTest::newRow("connected") << HelperStatus::State::connected << true;
    QTest::newRow("starting") << HelperStatus::State::starting << false;
}

void AppModelTest::freshConnectedStatusClearsAttention()
{
    QFETCH(HelperStatus::State, state);
    QFETCH(bool, restored);
    auto model = connectedModel();
    writeHelperStatus(HelperStatus(HelperStatus::State::stopped, m_seams.clock->now()));
    model->readStatus();
    QCOMPARE(model->machine().step, OnboardingStep::needsAttention);

    m_seams.clock->current = m_seams.clock->current.addSecs(10);
    writeHelperStatus(HelperStatus(state, m_seams.clock->now()));
    model->readStatus();
    QCOMPARE(model->machine().step, restored ? OnboardingStep::connected : OnboardingStep::needsAttention);
    QCOMPARE(model->errorMessage().has_value(), !restored);
}

void AppModelTest::logOutWithCredentialDisconnects()
{
    auto model = connectedModel();
    const QString credential = **keychain().read();
    model->logOut();
    QVERIFY(model->busy());
    QTRY_VERIFY_WITH_TIMEOUT(!model->busy(), 10000);
    QCOMPARE(model->machine().step, OnboardingStep::connect);
    QVERIFY(!model->helperStatus());
    QCOMPARE(model->recoveryAction(), HelperRecoveryAction::none);
    QVERIFY(!*keychain().read());
    QVERIFY(!*configFile().load());
    QCOMPARE(m_seams.loginItem->state, LoginItemState::notRegistered);
    // The service no longer knows the credential.
    const Result<Device> device = QCoro::waitFor(DeviceAPIClient(m_service->baseURL()).currentDevice(credential));
    QVERIFY(!device);
    QCOMPARE(device.error().code, 401);
    // What the user chose stays for the next sign-in.
    QVERIFY(model->deviceId());
    QCOMPARE(model->selectedFolders().size(), 2);
}

void AppModelTest::logOutWithoutCredentialSendsNothing()
{
    QVERIFY(configFile().save(resumableConfig(QUuid::createUuid())));
    const QUrl address = m_service->baseURL();
    m_service->stop();
    auto model = makeModel(address);
    m_seams.loginItem->state = LoginItemState::enabled;
    model->logOut();
    QTRY_VERIFY_WITH_TIMEOUT(!model->busy(), 10000);
    QVERIFY(!model->errorMessage());
    QVERIFY(!*configFile().load());
    QCOMPARE(m_seams.loginItem->state, LoginItemState::notRegistered);
}

void AppModelTest::failedLogOutDeletesNothing()
{
    auto model = connectedModel();
    m_service->stop();
    model->logOut();
    QTRY_VERIFY_WITH_TIMEOUT(!model->busy(), 10000);
    QVERIFY(model->errorMessage());
    QVERIFY(*keychain().read());
    QVERIFY(*configFile().load());
    QCOMPARE(m_seams.loginItem->state, LoginItemState::enabled);
    QCOMPARE(model->machine().step, OnboardingStep::connected);
}

QTEST_GUILESS_MAIN(AppModelTest)
#include "tst_appmodel.moc"
