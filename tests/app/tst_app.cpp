// The setup application's model and window against the local service and the real keyring.

#include "LocalServiceProcess.h"
#include "SlowSecretService.h"
#include "SoftwareGl.h"
#include "StallMeter.h"

#include "config/AppPaths.h"
#include "config/FileConfigStore.h"
#include "credentials/DeviceCredentialParser.h"
#include "credentials/SystemCredentialStore.h"
#include "model/AppModel.h"
#include "model/SignInError.h"
#include "pairing/PairingSecurity.h"
#include "platform/WindowActivation.h"
#include "status/StatusStore.h"
#include "view/DesktopActions.h"
#include "view/ShadowImageProvider.h"
#include "view/WindowLoader.h"

#include <QApplication>
#include <QCoroTask>
#include <QCoroTimer>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QNetworkReply>
#include <QQmlApplicationEngine>
#include <QQuickItem>
#include <QQuickWindow>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>
#include <QThread>
#include <QUrlQuery>

#include <QtGui/qguiapplication_platform.h>

#include <array>
#include <optional>

#include <sys/stat.h>
#include <xcb/xcb.h>

using namespace Qt::StringLiterals;
using State = HelperStatus::State;
using Expected = QVariantMap;

namespace {

// The tarnwick: link the service's connection page redirects to.
QUrl connectionLink(const QUrl &page)
{
    QNetworkAccessManager network;
    QNetworkRequest request(page);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    const std::unique_ptr<QNetworkReply> reply(network.get(request));
    QSignalSpy(reply.get(), &QNetworkReply::finished).wait(5000);
    return reply->header(QNetworkRequest::LocationHeader).toUrl();
}
// The browser, open until the test finishes it with a link or an error; or failing to open.
class FakeSignIn final : public BrowserSignIn
{
public:
    bool start(const QUrl &page, const QString &callbackScheme, Completion completion, BrowserFailure browserFailed) override
    {
        openedPages.append(page);
        lastScheme = callbackScheme;
        pending = canOpen ? std::move(completion) : nullptr;
        failBrowser = canOpen ? std::move(browserFailed) : nullptr;
        return canOpen;
    }
    void cancel() override
    {
        if (pending)
            finish(failure(SignInError::canceledLogin()));
    }
    bool isOpen() const override { return bool(pending); }
    void finish(Result<QUrl> outcome) { std::exchange(pending, nullptr)(std::move(outcome)); }
    bool canOpen = true;
    QList<QUrl> openedPages;
    QString lastScheme;
    Completion pending;
    BrowserFailure failBrowser; // the browser of the open sign-in reports that it could not open
};
// The login item with the platform's rules: register only from notRegistered.
class FakeLoginItem final : public LoginItemManaging
{
public:
    LoginItemState state() const override { return currentState; }
    Result<void> registerItem() override
    {
        calls.append(u"register"_s);
        if (currentState == LoginItemState::notRegistered && registerFailure)
            return failure(*registerFailure);
        if (currentState == LoginItemState::notRegistered)
            currentState = LoginItemState::enabled;
        return {};
    }
    Result<void> unregisterItem() override
    {
        calls.append(u"unregister"_s);
        currentState = LoginItemState::notRegistered;
        return {};
    }
    LoginItemState currentState = LoginItemState::notRegistered;
    QStringList calls;
    std::optional<Error> registerFailure;
};
class FakeFolderChooser final : public FolderChoosing
{
public:
    QCoro::Task<std::optional<QList<QUrl>>> chooseFolders(const QString &, const QString &) override
    {
        ++calls;
        // A real chooser answers later, after the event loop has run.
        co_await QCoro::sleepFor(std::chrono::milliseconds(1));
        co_return answer;
    }
    std::optional<QList<QUrl>> answer; // nothing: the user cancels
    int calls = 0;
};
class FakeNetworkMonitor final : public NetworkMonitoring
{
public:
    void start() override {}
    void report(bool satisfied) { Q_EMIT reachabilityChanged(satisfied); }
};
// The fakes a test keeps hold of after handing the parts to a model.
struct Seams
{
    FakeSignIn *signIn = nullptr;
    FakeFolderChooser *chooser = nullptr;
    FakeNetworkMonitor *network = nullptr;
    std::shared_ptr<FakeLoginItem> loginItem = std::make_shared<FakeLoginItem>();
    std::shared_ptr<int> discoveries = std::make_shared<int>(0);
};
const ProviderReadiness codexOnly{ProviderPaths{u"/usr/local/bin/codex"_s, std::nullopt}, true, false,
                                  {u"Codex is installed and signed in."_s}};

// Real stores in the isolated home, fakes at the platform seams, timers ten times faster than the program's.
AppModelParts testParts(const QUrl &baseURL, Seams &seams, ProviderReadiness discovered = codexOnly)
{
    seams = Seams{};
    AppModelParts parts;
    parts.configStore = std::make_unique<FileConfigStore>(AppPaths::config());
    parts.credentialStore = std::make_unique<SystemCredentialStore>(std::nullopt);
    parts.api = std::make_unique<DeviceAPIClient>(baseURL);
    parts.loginItem = [item = seams.loginItem] { return item; };
    parts.signIn = std::unique_ptr<FakeSignIn>(seams.signIn = new FakeSignIn);
    parts.discoverProviders = [discovered, count = seams.discoveries] {
        QThread::msleep(50); // discovery blocks while the agents answer
        ++*count;
        return discovered;
    };
    parts.folderChooser = std::unique_ptr<FakeFolderChooser>(seams.chooser = new FakeFolderChooser);
    parts.networkMonitor = std::unique_ptr<FakeNetworkMonitor>(seams.network = new FakeNetworkMonitor);
    parts.clock = std::make_unique<SystemClock>();
    parts.deviceName = [] { return u"Studio Mac"_s; };
    parts.statusPath = AppPaths::status();
    parts.baseURL = baseURL;
    parts.appVersion = u"0.3.0"_s;
    parts.appBuild = u"10"_s;
    parts.statusInterval = std::chrono::milliseconds(300);
    parts.recoveryDelay = std::chrono::milliseconds(300);
    return parts;
}
SystemCredentialStore keychain() { return SystemCredentialStore(std::nullopt); }
FileConfigStore configFile() { return FileConfigStore(AppPaths::config()); }
// A finished setup for `deviceId`: two folders, a Codex path.
AppConfig resumableConfig(const QUuid &deviceId, const QString &apiUrl = u"https://old.example/"_s)
{
    return AppConfig{apiUrl, deviceId, u"0.2.0"_s, {u"/home/user/work"_s, u"/home/user/site"_s},
                     u"/home/user/work"_s, ProviderPaths{u"/usr/local/bin/codex"_s, std::nullopt}};
}
// Pairs a device with the service as browser and model would and keeps its credential in the keychain;
// null when pairing failed.
QUuid pairedDevice(const QUrl &baseURL)
{
    const Result<PairingRequest> request = PairingSecurity::makeRequest();
    const QUrl page = *PairingSecurity::connectionURL(baseURL, *request, u"Bench"_s, u"0.3.0"_s, u"10"_s, std::nullopt);
    const auto code = PairingSecurity::validateCallback(connectionLink(page), request->state);
    const Result<DeviceExchange> exchange =
        QCoro::waitFor(DeviceAPIClient(baseURL).exchange(code.value_or(QString()), request->verifier));
    if (!exchange || !keychain().save(exchange->credential))
        return {};
    return exchange->device.id;
}
QString queryValue(const QUrl &url, const QString &name) { return QUrlQuery(url).queryItemValue(name, QUrl::FullyDecoded); }
QString upper(const QUuid &id) { return id.toString(QUuid::WithoutBraces).toUpper(); }
ino_t inodeOf(const QString &path)
{
    struct stat info = {};
    return ::stat(QFile::encodeName(path).constData(), &info) == 0 ? info.st_ino : 0;
}
// The desktop as the window sees it, recording instead of opening anything.
class RecordingDesktop final : public DesktopActions
{
public:
    RecordingDesktop() : DesktopActions(QUrl(u"http://127.0.0.1/"_s)) {}
    void openDashboard() override { calls.append(u"dashboard"_s); }
    void openLoginItemsSettings() override { calls.append(u"loginItems"_s); }
    void copyToClipboard(const QString &text) override
    {
        calls.append(u"copy"_s);
        copied = text;
    }
    QStringList calls;
    QString copied;
};
enum class Situation {
    firstLaunch, browserUnavailable, signInError,  // the window opens the sign-in when shown
    providersReady, providersMissing,              // paired
    noFolders, oneFolder, twoFolders,              // at the folder step
    offline, readyForCalls, needsApproval, // set up
};
QQuickItem *findVisible(QQuickItem *root, const QString &objectName)
{
    if (!root || !root->isVisible())
        return nullptr;
    if (root->objectName() == objectName)
        return root;
    QQuickItem *found = nullptr;
    for (QQuickItem *child : root->childItems())
        found = found ? found : findVisible(child, objectName);
    return found;
}
// What the ready screen shows in every situation, plus what differs.
Expected readyScreen(const QString &title, const QString &detail, bool tasksEnabled, Expected more = {})
{
    more.insert({{u"readyScreen:visible"_s, true}, {u"statusTitle"_s, title}, {u"statusDetail"_s, detail},
                 {u"viewAllTasksButton:enabled"_s, tasksEnabled}, {u"logOutButton:enabled"_s, true},
                 {u"errorLine:visible"_s, false}});
    for (const char *name : {"phoneNumber", "offlineSymbol", "enableLoginItemsButton"})
        more.insert(QLatin1String(name) + u":visible"_s, more.value(QLatin1String(name) + u":visible"_s, false));
    return more;
}

// The palette's colours in 0…255, and one composed over another as the window draws it.
using Rgb = std::array<double, 3>;
constexpr Rgb paper{0.957 * 255, 0.941 * 255, 0.910 * 255};
constexpr Rgb surface{0.982 * 255, 0.975 * 255, 0.957 * 255};
constexpr Rgb ink{0.090 * 255, 0.090 * 255, 0.075 * 255};
constexpr Rgb black{0, 0, 0};
Rgb over(const Rgb &colour, double opacity, const Rgb &beneath)
{
    return {colour[0] * opacity + beneath[0] * (1 - opacity), colour[1] * opacity + beneath[1] * (1 - opacity),
            colour[2] * opacity + beneath[2] * (1 - opacity)};
}
QString describe(const Rgb &colour) { return u"(%1, %2, %3)"_s.arg(colour[0]).arg(colour[1]).arg(colour[2]); }

// Buttons in each state on the paper, hover off (the pointer could be anywhere on the screen).
const QByteArray buttonScene = R"(
import QtQuick
import "qrc:/tarnwick/qml/style" as Style
Window {
    width: 300; height: 260; visible: true; color: Style.Palette.paper
    Column {
        x: 20; y: 20; spacing: 24
        Style.PrimaryButton { objectName: "disabled"; text: "Continue"; enabled: false; hoverEnabled: false }
        Style.PrimaryButton { objectName: "normal"; text: "Continue"; hoverEnabled: false }
        Style.PrimaryButton { objectName: "pressed"; text: "Continue"; down: true; hoverEnabled: false }
        Style.SecondaryButton { objectName: "secondary"; text: "Check Again"; hoverEnabled: false }
    }
}
)";

} // namespace

Q_DECLARE_METATYPE(Situation)
Q_DECLARE_METATYPE(Rgb)
Q_DECLARE_METATYPE(std::optional<Rgb>)

class AppTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init()
    {
        m_service = std::make_unique<LocalServiceProcess>(QStringList{u"--approve-immediately"_s});
        QVERIFY(m_service->start());
        QVERIFY(keychain().remove());
        QVERIFY(configFile().remove());
        QFile::remove(AppPaths::status());
    }
    void cleanup() { m_window.reset(), m_model.reset(), m_service.reset(), m_desktop.calls.clear(); }
    void startUpResumes_data()
    {
        QTest::addColumn<bool>("paired");
        QTest::addColumn<bool>("config");
        QTest::addColumn<OnboardingStep>("step");
        QTest::newRow("first launch") << false << false << OnboardingStep::connect;
        QTest::newRow("config, no credential") << false << true << OnboardingStep::connect;
        QTest::newRow("credential, no config") << true << false << OnboardingStep::providers;
        QTest::newRow("complete setup") << true << true << OnboardingStep::connected;
    }
    void startUpResumes()
    {
        QFETCH(bool, paired);
        QFETCH(bool, config);
        QFETCH(OnboardingStep, step);
        const QUuid device = paired ? pairedDevice(m_service->baseUrl()) : QUuid::createUuid();
        QVERIFY(!device.isNull() && (!config || configFile().save(resumableConfig(device))));
        auto model = makeModel();
        QCOMPARE(model->machine().step, step);
        QCOMPARE(model->deviceId(), !config && !paired ? std::optional<QUuid>() : device);
        QVERIFY(!model->errorMessage());
        if (step == OnboardingStep::connect) {
            // The window, not the model, opens the first sign-in; a later one offers the remembered device.
            QVERIFY(m_seams.signIn->openedPages.isEmpty());
            QCOMPARE(model->selectedFolders().size(), config ? 2 : 0);
            model->signIn();
            QCOMPARE(queryValue(m_seams.signIn->openedPages.last(), u"existingDeviceId"_s),
                     config ? upper(device) : QString());
        } else if (step == OnboardingStep::providers) {
            // Once the service has confirmed the credential, the agent check starts by itself.
            QTRY_COMPARE_WITH_TIMEOUT(*m_seams.discoveries, 1, 10000);
            QTRY_COMPARE(model->providerReadiness(), codexOnly);
        } else {
            // After the confirmation the helper is checked: an unregistered login item is registered.
            QTRY_COMPARE_WITH_TIMEOUT(m_seams.loginItem->calls, QStringList{u"register"_s}, 10000);
            QCOMPARE(model->helperStatus()->state(), State::starting);
            QVERIFY(m_seams.signIn->openedPages.isEmpty());
        }
    }
    void unreadableStartUpNeedsAttention_data()
    {
        QTest::addColumn<QByteArray>("configBytes");
        QTest::addColumn<QString>("credential");
        QTest::addColumn<QString>("message");
        QTest::newRow("config not JSON") << QByteArray("{ not json") << QString() << QString();
        // A FIFO would block a plain open for ever.
        QTest::newRow("config is a FIFO") << QByteArray("FIFO") << QString() << u"/Tarnwick/config.json: not a regular file"_s;
        QTest::newRow("credential names no device")
            << QByteArray() << u"twk_device_nonsense"_s << u"The saved device credential is invalid."_s;
    }
    void unreadableStartUpNeedsAttention()
    {
        QFETCH(QByteArray, configBytes);
        QFETCH(QString, credential);
        QFETCH(QString, message);
        QVERIFY(QDir().mkpath(AppPaths::applicationSupportDirectory()));
        QFile file(AppPaths::config());
        if (configBytes == "FIFO")
            QCOMPARE(::mkfifo(QFile::encodeName(file.fileName()).constData(), 0600), 0);
        else
            QVERIFY(configBytes.isEmpty() || (file.open(QIODevice::WriteOnly) && file.write(configBytes) == configBytes.size()));
        file.close();
        QVERIFY(credential.isEmpty() || keychain().save(credential));
        auto model = makeModel();
        QCOMPARE(model->machine().step, OnboardingStep::needsAttention);
        QVERIFY(!model->errorMessage().value_or(QString()).isEmpty());
        QVERIFY(message.isEmpty() || model->errorMessage()->endsWith(message));
        // A corrupt file is reported, never rewritten.
        QVERIFY(configBytes.isEmpty() || configBytes == "FIFO" || (file.open(QIODevice::ReadOnly) && file.readAll() == configBytes));
    }
    // The status is read every few seconds; a file that stays unreadable is reported once, not each time.
    void anUnreadableStatusIsReportedOnce()
    {
        QVERIFY(QDir().mkpath(AppPaths::applicationSupportDirectory()));
        QFile status(AppPaths::status());
        QVERIFY(status.open(QIODevice::WriteOnly) && status.write("{ not json") > 0);
        status.close();
        const QRegularExpression warning(u"^The helper's status could not be read: "_s);
        QTest::ignoreMessage(QtWarningMsg, warning);
        QTest::failOnWarning(warning);
        auto model = makeModel();
        QTest::qWait(1500); // five readings
    }
    void pairing()
    {
        // A remembered setup whose device is gone: the new device ends connected with the same folders.
        const QUuid device = QUuid::createUuid();
        QVERIFY(configFile().save(resumableConfig(device)));
        auto model = makeModel();
        model->signIn();
        QVERIFY(model->busy());
        const QUrl page = m_seams.signIn->openedPages.first();
        QCOMPARE(page.path(), u"/connect/mac/10"_s);
        QCOMPARE(queryValue(page, u"deviceName"_s), u"Studio Mac"_s);
        QCOMPARE(queryValue(page, u"existingDeviceId"_s), upper(device));
        QCOMPARE(m_seams.signIn->lastScheme, u"tarnwick"_s);
        m_seams.signIn->finish(connectionLink(page));
        QTRY_COMPARE_WITH_TIMEOUT(model->machine().step, OnboardingStep::connected, 10000);
        QTRY_VERIFY(!model->busy() && !model->errorMessage());
        QCOMPARE(model->deviceId(), DeviceCredentialParser::deviceId(keychain().read()->value_or(QString())));
        AppConfig expected = resumableConfig(device, m_service->baseUrl().toString());
        expected.appVersion = u"0.3.0"_s;
        QCOMPARE(**configFile().load(), expected);
        QCOMPARE(m_seams.loginItem->calls.first(), u"register"_s);
        QCOMPARE(*m_seams.discoveries, 0);
    }
    void signInOutcomes_data()
    {
        QTest::addColumn<QString>("callback"); // "cancel", "cannot open", "error", or the URL handed back
        QTest::addColumn<QString>("message");  // "*": any
        const QString invalid = u"The browser returned an invalid connection link."_s;
        QTest::newRow("user cancels") << u"cancel"_s << QString();
        QTest::newRow("browser cannot open") << u"cannot open"_s << QString();
        QTest::newRow("browser error") << u"error"_s << u"The browser could not be opened."_s;
        QTest::newRow("another attempt's state")
            << u"tarnwick://auth/callback?state=other&code=%2"_s << u"The connection response did not match this Mac."_s;
        QTest::newRow("not our callback") << u"tarnwick://evil/callback?state=%1"_s << invalid;
        QTest::newRow("code never issued") << u"tarnwick://auth/callback?state=%1&code=%2"_s << u"*"_s;
    }
    void signInOutcomes()
    {
        QFETCH(QString, callback);
        QFETCH(QString, message);
        auto model = makeModel();
        m_seams.signIn->canOpen = callback != "cannot open"_L1;
        model->signIn();
        const QString state = queryValue(m_seams.signIn->openedPages.last(), u"state"_s);
        if (callback == "cancel"_L1)
            model->cancelSignIn();
        else if (callback == "error"_L1)
            m_seams.signIn->finish(failure(Error{u"Browser"_s, 7, message}));
        else if (callback != "cannot open"_L1)
            m_seams.signIn->finish(QUrl(callback.arg(state, QString(43, u'c'))));
        QTRY_VERIFY_WITH_TIMEOUT(!model->busy(), 10000);
        QTRY_COMPARE_WITH_TIMEOUT(model->errorMessage().has_value(), !message.isEmpty(), 10000);
        if (message.size() > 1)
            QCOMPARE(*model->errorMessage(), message);
        QCOMPARE(model->machine().step, OnboardingStep::connect);
        QVERIFY(!keychain().read().value_or(u"error"_s));
    }
    // A refused registration comes after the configuration is written, and is shown.
    void refusedRegistrationNeedsAttention()
    {
        QVERIFY(!pairedDevice(m_service->baseUrl()).isNull());
        auto model = makeModel();
        QTRY_VERIFY_WITH_TIMEOUT(model->providerReadiness().has_value(), 10000);
        model->continueFromProviders();
        m_seams.chooser->answer = QList<QUrl>{QUrl::fromLocalFile(u"/srv/a"_s)};
        model->chooseFolders();
        QTRY_COMPARE(model->selectedFolders().size(), 1);
        m_seams.loginItem->registerFailure = Error{u"LoginItem"_s, 1, u"Refused by the desktop."_s};
        model->finishSetup();
        QCOMPARE(model->machine().step, OnboardingStep::needsAttention);
        QCOMPARE(*model->errorMessage(), u"Refused by the desktop."_s);
        QVERIFY(configFile().load()->has_value());
    }
    // What cannot be read at the status file's place (a FIFO would block, a huge file would swamp) is
    // refused at once, and the last status stands.
    void unreadableStatusKeepsTheLastOne()
    {
        auto &model = connectedModel();
        const std::optional<HelperStatus> before = model->helperStatus();
        QVERIFY(before && before->state() == State::connected);
        const QByteArray path = QFile::encodeName(AppPaths::status());
        QVERIFY(QFile::remove(AppPaths::status()) && ::mkfifo(path.constData(), 0600) == 0);
        model->readStatus();
        QCOMPARE(model->helperStatus(), before);
        QVERIFY(QFile::remove(AppPaths::status()));
        QFile huge(AppPaths::status());
        QVERIFY(huge.open(QIODevice::WriteOnly) && huge.resize(5 << 20));
        huge.close();
        model->readStatus();
        QCOMPARE(model->helperStatus(), before);
        QCOMPARE(model->machine().step, OnboardingStep::connected);
    }
    void changeFoldersRewritesConfigAtomically()
    {
        auto &model = connectedModel();
        const AppConfig before = **configFile().load();
        const ino_t inode = inodeOf(AppPaths::config());
        // A cancelled chooser keeps the folders, written again unchanged through a new file.
        model->changeFolders();
        QVERIFY(QSignalSpy(model.get(), &AppModel::operationFinished).wait(10000));
        QCOMPARE(m_seams.chooser->calls, 1);
        QCOMPARE(**configFile().load(), before);
        QVERIFY(inodeOf(AppPaths::config()) != inode);
        m_seams.chooser->answer = QList<QUrl>{QUrl::fromLocalFile(u"/srv/new"_s)};
        model->changeFolders();
        QVERIFY(QSignalSpy(model.get(), &AppModel::operationFinished).wait(10000));
        AppConfig expected = before;
        expected.allowedRoots = {expected.defaultDirectory = u"/srv/new"_s};
        QCOMPARE(**configFile().load(), expected);
    }
    void recoveryActions_data()
    {
        QTest::addColumn<LoginItemState>("state");
        QTest::addColumn<HelperRecoveryAction>("action");
        QTest::addColumn<QString>("message");
        QTest::newRow("needs approval") << LoginItemState::requiresApproval << HelperRecoveryAction::enableInSystemSettings
                                        << u"Enable Tarnwick in Login Items so it can run after login."_s;
        QTest::newRow("helper missing") << LoginItemState::notFound << HelperRecoveryAction::reinstall
                                        << u"The background helper is missing. Reinstall Tarnwick."_s;
        QTest::newRow("registration refused") << LoginItemState::notRegistered << HelperRecoveryAction::registerHelper
                                              << u"The background helper could not start. Reinstall Tarnwick if this continues."_s;
    }
    void recoveryActions()
    {
        QFETCH(LoginItemState, state);
        QFETCH(HelperRecoveryAction, action);
        QFETCH(QString, message);
        auto &model = connectedModel();
        m_seams.loginItem->currentState = state;
        m_seams.loginItem->registerFailure = Error{u"LoginItem"_s, 1, u"no"_s}; // only a new registration fails
        model->ensureHelperLifecycle();
        // Decided at once, without the grace period.
        QCOMPARE(model->recoveryAction(), action);
        QCOMPARE(model->machine().step, OnboardingStep::needsAttention);
        QCOMPARE(*model->errorMessage(), message);
        // While an action is pending a fresh connected helper does not bring the step back.
        writeStatus(State::connected);
        model->readStatus();
        QCOMPARE(model->machine().step, OnboardingStep::needsAttention);
    }
    void logOut_data()
    {
        QTest::addColumn<bool>("serviceUp");
        QTest::newRow("disconnects the device") << true;
        QTest::newRow("service unreachable: deletes nothing") << false;
    }
    void logOut()
    {
        QFETCH(bool, serviceUp);
        auto &model = connectedModel();
        const QString credential = keychain().read()->value_or(QString());
        if (!serviceUp)
            m_service->stop();
        model->logOut();
        QTRY_VERIFY_WITH_TIMEOUT(!model->busy(), 10000);
        const bool failed = !serviceUp;
        QCOMPARE(model->errorMessage().has_value(), failed);
        QCOMPARE(std::pair(keychain().read()->has_value(), configFile().load()->has_value()), std::pair(failed, failed));
        QCOMPARE(m_seams.loginItem->currentState, failed ? LoginItemState::enabled : LoginItemState::notRegistered);
        QCOMPARE(model->machine().step, failed ? OnboardingStep::connected : OnboardingStep::connect);
        if (failed)
            return;
        // What the user chose stays for the next sign-in.
        QVERIFY(!model->helperStatus() && model->deviceId() && model->selectedFolders().size() == 2);
        // The service no longer knows the credential.
        const Result<Device> device = QCoro::waitFor(DeviceAPIClient(m_service->baseUrl()).currentDevice(credential));
        QCOMPARE(device ? 200 : device.error().code, 401);
    }
    // The keyring may hold its answer as long as an unlock prompt stays open: meanwhile the window goes
    // on drawing, and a sign-in the user starts is not undone by the late answer.
    void slowKeyringNeverFreezesTheWindow()
    {
        const SlowSecretService keyring(std::chrono::seconds(3));
        QVERIFY(keyring.isRegistered());
        m_model = std::make_unique<AppModel>(testParts(m_service->baseUrl(), m_seams));
        m_window = std::make_unique<WindowLoader>(*m_model, m_desktop, QStringLiteral(LOGO_MARK_PATH));
        window()->show();
        QVERIFY(QTest::qWaitForWindowExposed(window()));
        QVERIFY(m_model->restoring() && item(u"restoringSetup"_s) && !item(u"signInButton"_s));
        QVERIFY(m_seams.signIn->openedPages.isEmpty()); // the automatic sign-in waits for the stored setup

        m_model->signIn();
        QVERIFY(item(u"openingSignIn"_s));
        // Software drawing under the sanitizers takes its own time on this thread: the meter watches
        // the event loop alone.
        window()->hide();
        QSignalSpy restored(m_model.get(), &AppModel::restoringChanged);
        const StallMeter meter;
        QVERIFY(m_model->restoring());
        QVERIFY(restored.wait(30000));

        QVERIFY(keyring.callsAnswered() > 0);
        QVERIFY2(meter.longestStallMs() < 100, qPrintable(u"stood still %1 ms from %2 ms on"_s.arg(meter.longestStallMs()).arg(meter.longestStallBeganMs())));
        QCOMPARE(m_model->machine().step, OnboardingStep::connect);
        QVERIFY(m_model->busy() && m_seams.signIn->isOpen() && !m_model->errorMessage());
        QCOMPARE(m_seams.signIn->openedPages.size(), 1);
    }
    // No browser took the page: the sign-in keeps waiting with its link offered, and the callback still
    // completes it; a report about an earlier attempt's browser changes nothing.
    void signInWaitsWithoutABrowser()
    {
        auto model = makeModel();
        model->signIn();
        const BrowserSignIn::BrowserFailure earlier = m_seams.signIn->failBrowser;
        model->cancelSignIn();
        QTRY_VERIFY(!model->busy() && model->signInLink().isEmpty());
        model->signIn();
        const QUrl page = m_seams.signIn->openedPages.last();
        QCOMPARE(model->signInLink(), page.toString(QUrl::FullyEncoded));
        const Error noBrowser{u"UrlLauncher"_s, 1, u"No browser could be opened: xdg-open exited with status 3"_s};
        earlier(noBrowser);
        QTest::qWait(50);
        QVERIFY(!model->browserUnavailable());
        m_seams.signIn->failBrowser(noBrowser);
        QTRY_VERIFY(model->browserUnavailable());
        QVERIFY(model->busy() && model->signInOpen() && !model->errorMessage());
        m_seams.signIn->finish(connectionLink(page));
        QTRY_COMPARE_WITH_TIMEOUT(model->machine().step, OnboardingStep::providers, 10000);
        QVERIFY(!model->browserUnavailable() && model->signInLink().isEmpty());
    }
    // A second chooser is not opened while one is: the buttons are disabled, and the model refuses.
    void oneFolderChooserAtATime()
    {
        auto model = makeModel();
        QSignalSpy choosing(model.get(), &AppModel::choosingFoldersChanged);
        model->chooseFolders();
        model->chooseFolders();
        model->changeFolders();
        QVERIFY(model->choosingFolders());
        QCOMPARE(m_seams.chooser->calls, 1);
        QTRY_VERIFY(!model->choosingFolders());
        QCOMPARE(choosing.size(), 2);
        model->chooseFolders();
        QCOMPARE(m_seams.chooser->calls, 2);
        QTRY_VERIFY(!model->choosingFolders());
    }
    // On X11 the window carries the startup id of the launch that asked for it, by which the window
    // manager lets it come up.
    void windowTakesItsLaunchsStartupId()
    {
        showWindow(Situation::firstLaunch);
        auto *x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
        if (!x11)
            QSKIP("not an X11 session");
        const QByteArray id = "launcher-4711_TIME123456";
        WindowActivation::activate(window(), InstanceMessage{{}, {}, id});
        xcb_connection_t *connection = x11->connection();
        const char name[] = "_NET_STARTUP_ID";
        xcb_intern_atom_reply_t *atom = xcb_intern_atom_reply(connection, xcb_intern_atom(connection, 1, sizeof name - 1, name), nullptr);
        QVERIFY(atom);
        xcb_get_property_reply_t *property = xcb_get_property_reply(
            connection, xcb_get_property(connection, 0, xcb_window_t(window()->winId()), atom->atom, XCB_ATOM_ANY, 0, 256), nullptr);
        std::free(atom);
        QVERIFY(property);
        const QByteArray value(static_cast<const char *>(xcb_get_property_value(property)), xcb_get_property_value_length(property));
        std::free(property);
        QCOMPARE(value, id);
    }
    // Keys are object names; "name" compares the item's text (empty when hidden), "name:property" a
    // property, "name:click" what clicking it asks of the desktop.
    void screen_data()
    {
        QTest::addColumn<Situation>("situation");
        QTest::addColumn<Expected>("expected");
        const QString unavailable = u"Claude Code unavailable"_s;
        QTest::newRow("connect-signing-in") << Situation::firstLaunch
            << Expected{{u"openingSignIn:visible"_s, true}, {u"signInButton:visible"_s, false},
                        {u"cancelSignInButton:visible"_s, true}, {u"copyLinkButton:visible"_s, true},
                        {u"browserUnavailable:visible"_s, false}};
        QTest::newRow("connect-no-browser") << Situation::browserUnavailable
            << Expected{{u"openingSignIn:visible"_s, false}, {u"signInButton:visible"_s, false},
                        {u"browserUnavailableTitle"_s, u"Couldn’t open a browser"_s},
                        {u"cancelSignInButton:visible"_s, true}, {u"copyLinkButton:visible"_s, true},
                        {u"errorLine:visible"_s, false}};
        QTest::newRow("connect-error") << Situation::signInError
            << Expected{{u"connectScreen:visible"_s, true},
                        {u"errorLine"_s, u"The connection response did not match this Mac."_s}};
        QTest::newRow("providers-ready") << Situation::providersReady
            << Expected{{u"providersScreen:visible"_s, true}, {u"checkingTools:visible"_s, false},
                        {u"codexLabel"_s, u"Codex"_s}, {u"claudeCodeLabel"_s, unavailable},
                        {u"continueButton:enabled"_s, true}, {u"checkAgainButton:enabled"_s, true},
                        {u"errorLine"_s, QString()}};
        QTest::newRow("providers-missing") << Situation::providersMissing
            << Expected{{u"codexLabel"_s, u"Codex unavailable"_s}, {u"claudeCodeLabel"_s, unavailable},
                        {u"continueButton:enabled"_s, false}, {u"checkAgainButton:enabled"_s, true},
                        {u"errorLine"_s, u"Verify Codex or Claude Code to continue."_s}};
        const auto folders = [](const QString &header) {
            return Expected{{u"foldersScreen:visible"_s, true}, {u"finishSetupButton:enabled"_s, !header.isEmpty()},
                            {u"chooseFoldersButton:visible"_s, header.isEmpty()},
                            {u"folderBox:visible"_s, !header.isEmpty()}, {u"folderBoxHeader"_s, header}};
        };
        QTest::newRow("folders-empty") << Situation::noFolders << folders(QString());
        QTest::newRow("folders-one") << Situation::oneFolder << folders(u"SELECTED FOLDER"_s);
        QTest::newRow("folders-two") << Situation::twoFolders << folders(u"SELECTED FOLDERS"_s);
        QTest::newRow("ready-offline") << Situation::offline
            << readyScreen(u"Offline"_s, u"Connect to the internet to take calls."_s, false,
                           {{u"offlineSymbol:visible"_s, true}});
        QTest::newRow("ready-for-calls") << Situation::readyForCalls
            << readyScreen(u"Ready for calls"_s, QString(), true,
                           {{u"phoneNumber:visible"_s, true}, {u"phoneNumber"_s, u"+1 (555) 010-0199"_s},
                            {u"folderSummary"_s, u"Folders: work, site"_s},
                            {u"viewAllTasksButton:click"_s, u"dashboard"_s}});
        // The model's message is not shown on the ready screen.
        QTest::newRow("ready-needs-approval") << Situation::needsApproval
            << readyScreen(u"Ready for calls"_s, QString(), true,
                           {{u"phoneNumber:visible"_s, true}, {u"enableLoginItemsButton:visible"_s, true},
                            {u"enableLoginItemsButton:click"_s, u"loginItems"_s}});
    }
    void screen()
    {
        QFETCH(Situation, situation);
        QFETCH(Expected, expected);
        showWindow(situation);
        QCOMPARE(window()->title(), u"Tarnwick"_s);
        QCOMPARE(window()->minimumWidth(), 440);
        QCOMPARE(window()->maximumWidth(), 440);
        QVERIFY(item(u"brandRow"_s));
        for (auto it = expected.cbegin(); it != expected.cend(); ++it) {
            const QStringList key = it.key().split(u':');
            QQuickItem *shown = item(key.first());
            if (key.value(1) == "click"_L1) {
                click(key.first());
                QCOMPARE(m_desktop.calls, QStringList{it->toString()});
            } else if (key.value(1) == "visible"_L1) {
                QVERIFY2(bool(shown) == it->toBool(), qPrintable(it.key()));
            } else {
                QVERIFY2(shown || key.size() == 1, qPrintable(it.key()));
                const QVariant actual = shown ? shown->property(qPrintable(key.value(1, u"text"_s))) : QString();
                QVERIFY2(actual == *it, qPrintable(it.key() + u": "_s + actual.toString()));
            }
        }
        if (situation == Situation::browserUnavailable) { // the page the browser was given, nothing else
            QVERIFY(QMetaObject::invokeMethod(item(u"copyLinkButton"_s), "clicked"));
            QCOMPARE(m_desktop.copied, m_seams.signIn->openedPages.last().toString(QUrl::FullyEncoded));
        }
        if (situation == Situation::oneFolder) {
            const QVariantMap row = m_model->property("folderRows").toList().first().toMap();
            QCOMPARE(row.value(u"name"_s).toString(), u"tarnwick"_s);
            QCOMPARE(row.value(u"displayPath"_s).toString(), u"~/Projects/tarnwick"_s);
        }
        const QImage picture = window()->grabWindow();
        QCOMPARE(picture.width(), int(440 * window()->devicePixelRatio()));
        // take-screenshots.sh keeps the pictures for docs/screens.
        if (const QString folder = qEnvironmentVariable("TARNWICK_SCREENSHOT_DIR"); !folder.isEmpty())
            QVERIFY(picture.save(folder + u'/' + QString::fromLatin1(QTest::currentDataTag()) + u".png"_s));
    }
    // Sampled left of the label (fill) and at the middle of the top edge (border, secondary only).
    void buttonsDrawnFromThePalette_data()
    {
        QTest::addColumn<QString>("button");
        QTest::addColumn<Rgb>("fill");
        QTest::addColumn<std::optional<Rgb>>("border");
        QTest::newRow("primary, disabled") << u"disabled"_s << over(ink, 0.32, paper) << std::optional<Rgb>();
        QTest::newRow("primary") << u"normal"_s << ink << std::optional<Rgb>();
        QTest::newRow("primary, pressed") << u"pressed"_s << over(ink, 0.76, paper) << std::optional<Rgb>();
        QTest::newRow("secondary") << u"secondary"_s << surface << std::optional(over(black, 0.12, paper));
    }
    void buttonsDrawnFromThePalette()
    {
        QFETCH(QString, button);
        QFETCH(Rgb, fill);
        QFETCH(std::optional<Rgb>, border);
        QQmlApplicationEngine engine;
        engine.addImageProvider(u"shadow"_s, new ShadowImageProvider);
        engine.loadData(buttonScene);
        auto *scene = qobject_cast<QQuickWindow *>(engine.rootObjects().value(0));
        QVERIFY(scene && QTest::qWaitForWindowExposed(scene));
        auto *shown = scene->findChild<QQuickItem *>(button);
        QVERIFY(shown);
        const QImage picture = scene->grabWindow();
        const QRectF box = shown->mapRectToScene(shown->boundingRect());
        const auto sample = [&](qreal x, qreal y, const Rgb &expected, const char *where) {
            const QColor pixel = picture.pixelColor(QPointF(x, y).toPoint() * scene->devicePixelRatio());
            const Rgb actual{double(pixel.red()), double(pixel.green()), double(pixel.blue())};
            for (int channel = 0; channel < 3; ++channel) {
                QVERIFY2(std::abs(actual[channel] - expected[channel]) <= 3,
                         qPrintable(u"%1: %2, expected %3"_s.arg(QLatin1String(where), describe(actual), describe(expected))));
            }
        };
        sample(box.left() + 9, box.center().y(), fill, "fill");
        if (border)
            sample(box.center().x(), box.top(), *border, "border");
    }

private:
    std::unique_ptr<AppModel> makeModel(ProviderReadiness discovered = codexOnly, QUrl baseURL = {})
    {
        baseURL = baseURL.isEmpty() ? m_service->baseUrl() : baseURL;
        auto model = std::make_unique<AppModel>(testParts(baseURL, m_seams, std::move(discovered)));
        // The stored credential is read off the main thread.
        (void)QTest::qWaitFor([&] { return !model->restoring(); }, 10000);
        return model;
    }
    // A model over a finished setup whose helper reports connected, after its start-up checks.
    std::unique_ptr<AppModel> &connectedModel()
    {
        reachModelSituation(Situation::readyForCalls);
        return m_model;
    }
    void writeStatus(State state, int age = 0)
    {
        QVERIFY(StatusStore(AppPaths::status()).save(HelperStatus(state, QDateTime::currentDateTimeUtc().addSecs(-age))));
    }
    // The window over a model in `situation`, shown.
    void showWindow(Situation situation)
    {
        reachModelSituation(situation);
        m_window = std::make_unique<WindowLoader>(*m_model, m_desktop, QStringLiteral(LOGO_MARK_PATH));
        QVERIFY(window());
        window()->show();
        QVERIFY(QTest::qWaitForWindowExposed(window()));
        if (situation <= Situation::signInError)
            QTRY_VERIFY(m_seams.signIn->isOpen());
        if (situation == Situation::signInError) {
            m_seams.signIn->finish(QUrl(u"tarnwick://auth/callback?state=stale"_s));
            QTRY_VERIFY(m_model->errorMessage().has_value());
        }
        if (situation == Situation::browserUnavailable) {
            m_seams.signIn->failBrowser(Error{u"UrlLauncher"_s, 1, u"No browser could be opened: xdg-open exited with status 3"_s});
            QTRY_VERIFY(m_model->browserUnavailable());
        }
    }
    void reachModelSituation(Situation situation)
    {
        const QUrl base = m_service->baseUrl();
        const QUuid device = situation >= Situation::providersReady ? pairedDevice(base) : QUuid();
        if (situation >= Situation::offline)
            QVERIFY(configFile().save(resumableConfig(device)));
        const ProviderReadiness nothing{{}, false, false, {u"Install Codex or Claude Code, then check again."_s}};
        m_model = makeModel(situation == Situation::providersMissing ? nothing : codexOnly);
        m_seams.loginItem->currentState = LoginItemState::enabled;
        QSignalSpy finished(m_model.get(), &AppModel::operationFinished);
        if (situation <= Situation::signInError)
            return;
        if (situation < Situation::offline) {
            QTRY_VERIFY_WITH_TIMEOUT(m_model->providerReadiness().has_value(), 10000);
            if (situation != Situation::providersReady)
                m_model->continueFromProviders();
            m_seams.chooser->answer = QList<QUrl>{QUrl::fromLocalFile(QDir::homePath() + u"/Projects/tarnwick"_s)};
            if (situation == Situation::twoFolders)
                m_seams.chooser->answer->append(QUrl::fromLocalFile(u"/srv/www/site"_s));
            if (situation == Situation::oneFolder || situation == Situation::twoFolders)
                m_model->chooseFolders();
            QTRY_COMPARE(m_model->selectedFolders().size(), qMax(0, int(situation) - int(Situation::noFolders)));
            return;
        }
        // Set up: wait for the start-up confirmation and the helper check, then shape status and network.
        writeStatus(State::connected);
        QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 2, 10000);
        QCOMPARE(m_model->machine().step, OnboardingStep::connected);
        writeStatus(State::connected);
        m_seams.network->report(situation != Situation::offline);
        if (situation == Situation::needsApproval) {
            m_seams.loginItem->currentState = LoginItemState::requiresApproval;
            m_model->ensureHelperLifecycle();
        }
        m_model->readStatus();
    }
    QQuickWindow *window() const { return m_window ? m_window->window() : nullptr; }
    QQuickItem *item(const QString &objectName) const { return findVisible(window()->contentItem(), objectName); }
    // Clicks the middle of the visible item as the user would.
    void click(const QString &objectName) const
    {
        QQuickItem *target = item(objectName);
        QVERIFY2(target, qPrintable(objectName));
        const auto centre = [target] { return target->mapToScene(QPointF(target->width() / 2, target->height() / 2)); };
        // Controls that have just appeared are laid out at the next frame.
        QPointF previous(-1, -1);
        QTRY_VERIFY(std::exchange(previous, centre()) == centre() && window()->contentItem()->contains(previous));
        QTest::mouseClick(window(), Qt::LeftButton, Qt::NoModifier, centre().toPoint());
    }

    std::unique_ptr<LocalServiceProcess> m_service;
    Seams m_seams;
    std::unique_ptr<AppModel> m_model;
    RecordingDesktop m_desktop;
    std::unique_ptr<WindowLoader> m_window;
};

int main(int argc, char *argv[])
{
    keepSoftwareGlDriverLoaded();
    QApplication application(argc, argv);
    AppTest test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}
#include "tst_app.moc"
