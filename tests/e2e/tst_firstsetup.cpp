// The first setup end to end with real processes: local service, window and system adapters, the Tarnwick
// program taking the browser script's link, scripted shell, agents and runtime, the helper started from its
// autostart entry. Only the folder chooser is the test's. The steps run in order and build on each other.

#include "LocalServiceProcess.h"
#include "SoftwareGl.h"

#include "api/DeviceAPIClient.h"
#include "common/BuildInfo.h"
#include "common/HelperInstanceLock.h"
#include "config/AppPaths.h"
#include "config/FileConfigStore.h"
#include "credentials/SystemCredentialStore.h"
#include "discovery/ProviderDiscovery.h"
#include "model/AppModel.h"
#include "platform/AutostartEntry.h"
#include "platform/HostName.h"
#include "platform/InstanceMessage.h"
#include "platform/SingleInstance.h"
#include "platform/SystemBrowserSignIn.h"
#include "platform/SystemLoginItemManager.h"
#include "platform/SystemNetworkMonitor.h"
#include "view/DesktopActions.h"
#include "view/WindowLoader.h"

#include <QApplication>
#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QQuickItem>
#include <QQuickWindow>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

namespace {

const QString scripts = QStringLiteral(E2E_SCRIPTS_DIR);
const QString autostartEntry = AutostartEntry::path(QStringLiteral("com.tarnwick.mac.helper"));
// Generous: every step answers within seconds unless something is broken.
constexpr int stepTimeoutMs = 30000;

class ChosenFolder final : public FolderChoosing
{
public:
    QCoro::Task<std::optional<QList<QUrl>>> chooseFolders(const QString &, const QString &) override
    {
        co_return QList<QUrl>{QUrl::fromLocalFile(QDir::home().filePath(QStringLiteral("My Projects")))};
    }
};
QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}
// Straight from the keyring, as any other program would look it up; empty when there is none.
QByteArray credentialInKeyring()
{
    QProcess secretTool;
    secretTool.start(QStringLiteral("secret-tool"),
                     {QStringLiteral("lookup"), QStringLiteral("service"), QStringLiteral("com.tarnwick.mac"),
                      QStringLiteral("account"), QStringLiteral("device-credential")});
    secretTool.waitForFinished(10000);
    return secretTool.exitCode() == 0 ? secretTool.readAllStandardOutput().trimmed() : QByteArray();
}
QString helperState()
{
    return QJsonDocument::fromJson(readFile(AppPaths::status())).object().value(QStringLiteral("state")).toString();
}
// The helper holds its lock until its process ends.
bool helperIsGone()
{
    return !HelperInstanceLock::runningHelperPid();
}

} // namespace

class TestFirstSetup : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY2(m_service.start(), m_service.errors().constData());
        QVERIFY(QDir().mkpath(m_chosenFolder));
        // A copy of the bundle's resources whose runtime is the recording script.
        QVERIFY(QDir().mkpath(bundleFile(QStringLiteral("runtime")))
                && QDir().mkpath(bundleFile(QStringLiteral("runner"))));
        QVERIFY(
            QFile::copy(scripts + QStringLiteral("/recording-runner.sh"), bundleFile(QStringLiteral("runtime/node"))));
        QVERIFY(QFile::copy(QStringLiteral(TARNWICK_BUNDLE_DIR "/Contents/Resources/runner/runner.js"),
                            bundleFile(QStringLiteral("runner/runner.js"))));
        // The desktop's side of things, as the programs look it up.
        qputenv("BROWSER", QFile::encodeName(scripts + QStringLiteral("/browser.js")));
        qputenv("TARNWICK_E2E_APP", QByteArrayLiteral(TARNWICK_APP_PATH));
        qputenv("SHELL", QFile::encodeName(scripts + QStringLiteral("/login-shell.sh")));
        qputenv("TARNWICK_E2E_PATH", QFile::encodeName(scripts) + ":/usr/bin:/bin");
        qputenv("TWK_MAIN_APP_BUNDLE", QFile::encodeName(m_bundle.path()));
        // The running setup application: tarnwick: links handed to a second start arrive here.
        QVERIFY(m_instance.listen());
        m_model = std::make_unique<AppModel>(systemParts());
        connect(&m_instance, &SingleInstance::messageReceived, this,
                [this](const QString &line) { m_signIn->acceptCallback(QUrl(InstanceMessage::decoded(line).url)); });
        m_desktop = std::make_unique<DesktopActions>(m_service.baseUrl());
        m_window = std::make_unique<WindowLoader>(
            *m_model, *m_desktop, QStringLiteral(TARNWICK_BUNDLE_DIR "/Contents/Resources/LogoMark.png"));
        QVERIFY(m_window->window());
    }
    void cleanupTestCase()
    {
        // A helper left running by a failed step would outlive the test's session.
        if (const std::optional<qint64> helper = HelperInstanceLock::runningHelperPid()) {
            ::kill(pid_t(*helper), SIGTERM);
            QTRY_VERIFY_WITH_TIMEOUT(helperIsGone(), 10000);
        }
    }
    // The browser hands the link to a second start of Tarnwick, which passes it to this instance.
    void signsInThroughTheBrowser()
    {
        QCOMPARE(step(), QStringLiteral("Connect"));
        m_window->window()->show();
        QTRY_COMPARE_WITH_TIMEOUT(step(), QStringLiteral("Providers"), stepTimeoutMs);
        QCOMPARE(m_model->errorMessage(), std::nullopt);
        QVERIFY(m_model->deviceId());
        m_credential = credentialInKeyring();
        const QRegularExpression token(QStringLiteral("^twk_device_%1\\.[A-Za-z0-9_-]{43}$")
                                           .arg(m_model->deviceId()->toString(QUuid::WithoutBraces)),
                                       QRegularExpression::CaseInsensitiveOption);
        QVERIFY2(token.match(QString::fromUtf8(m_credential)).hasMatch(), m_credential.constData());
    }
    // The login shell's search path leads to the scripted agents.
    void findsTheCodingAgents()
    {
        QTRY_VERIFY_WITH_TIMEOUT(m_model->providerReadiness() && !m_model->busy(), stepTimeoutMs);
        const ProviderReadiness &readiness = *m_model->providerReadiness();
        QVERIFY(readiness.codexReady && readiness.claudeCodeReady);
        QCOMPARE(readiness.paths.codex, scripts + QStringLiteral("/codex"));
        QCOMPARE(readiness.paths.claudeCode, scripts + QStringLiteral("/claude"));
        m_model->continueFromProviders();
        QCOMPARE(step(), QStringLiteral("Folders"));
    }
    // Finishing writes the configuration file and the autostart entry, and starts the helper.
    void finishesSetupWithTheChosenFolder()
    {
        m_model->chooseFolders();
        QTRY_COMPARE(m_model->selectedFolders(), QList<QUrl>{QUrl::fromLocalFile(m_chosenFolder)});
        m_model->finishSetup();
        QTRY_VERIFY_WITH_TIMEOUT(!m_model->busy(), stepTimeoutMs);
        QCOMPARE(m_model->errorMessage(), std::nullopt);
        // "/" is written "\/" in the configuration file.
        const auto json = [](QString path) { return path.replace(u'/', QStringLiteral("\\/")); };
        const QString expectedConfig =
            QStringLiteral(R"({
  "allowedRoots" : [
    "%1"
  ],
  "apiUrl" : "%2",
  "appVersion" : "0.3.0",
  "defaultDirectory" : "%1",
  "deviceId" : "%3",
  "providerPaths" : {
    "claudeCode" : "%4",
    "codex" : "%5"
  }
})")
                .arg(json(m_chosenFolder), json(m_service.baseUrl().toString()),
                     m_model->deviceId()->toString(QUuid::WithoutBraces).toUpper(),
                     json(scripts + QStringLiteral("/claude")), json(scripts + QStringLiteral("/codex")));
        QCOMPARE(QString::fromUtf8(readFile(AppPaths::config())), expectedConfig);
        QCOMPARE(QFileInfo(AppPaths::config()).permissions(),
                 QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadUser | QFileDevice::WriteUser);
        QCOMPARE(QString::fromUtf8(readFile(autostartEntry)),
                 QStringLiteral(
                     "[Desktop Entry]\nType=Application\nName=Tarnwick\n"
                     "Comment=Keeps this computer ready to take calls\nExec=" TARNWICK_HELPER_PATH "\n"
                     "Icon=com.tarnwick.Tarnwick\nTerminal=false\nNoDisplay=true\nX-GNOME-Autostart-enabled=true\n"));
        QCOMPARE(QFileInfo(autostartEntry).permissions() & (QFileDevice::ReadGroup | QFileDevice::ReadOther),
                 QFileDevice::Permissions());
    }
    // The runtime gets the runner script, four variables and the credential on its standard input.
    void helperHandsTheRunnerItsCredential()
    {
        QTRY_VERIFY_WITH_TIMEOUT(!runnerRecord(QStringLiteral("stdin")).isEmpty(), stepTimeoutMs);
        QVERIFY(!helperIsGone());
        QCOMPARE(runnerRecord(QStringLiteral("stdin")), m_credential + '\n');
        QStringList environment =
            QString::fromUtf8(runnerRecord(QStringLiteral("environment"))).split(u'\n', Qt::SkipEmptyParts);
        environment.sort();
        QCOMPARE(environment,
                 (QStringList{QStringLiteral("HOME=") + QDir::homePath(), QStringLiteral("NODE_ENV=production"),
                              QStringLiteral("PATH=/usr/bin:/bin:/usr/sbin:/sbin"),
                              QStringLiteral("TMPDIR=") + QDir::tempPath()}));
        QCOMPARE(runnerRecord(QStringLiteral("arguments")),
                 QFile::encodeName(bundleFile(QStringLiteral("runner/runner.js"))) + '\n');
        QCOMPARE(runnerRecord(QStringLiteral("folder")).trimmed(),
                 QFile::encodeName(AppPaths::applicationSupportDirectory()));
    }
    // The helper's heartbeat makes the status connected; the window's next reading shows it.
    void windowShowsReadyForCalls()
    {
        QTRY_COMPARE_WITH_TIMEOUT(helperState(), QStringLiteral("connected"), stepTimeoutMs);
        QTRY_COMPARE_WITH_TIMEOUT(m_model->property("readyStatus").toString(), QStringLiteral("ReadyForCalls"),
                                  stepTimeoutMs);
        QCOMPARE(step(), QStringLiteral("Connected"));
        QTRY_COMPARE(windowText("statusTitle"), QStringLiteral("Ready for calls"));
        QCOMPARE(windowText("phoneNumber"), QStringLiteral("+1 (555) 010-0199"));
        QCOMPARE(windowText("phoneNumber", "visible"), QStringLiteral("true"));
    }
    // Removing the autostart entry stops the helper, which stops the runner first.
    void logOutRemovesTheSetup()
    {
        QVERIFY(!helperIsGone());
        QSignalSpy finished(m_model.get(), &AppModel::operationFinished);
        m_model->logOut();
        QVERIFY(finished.wait(stepTimeoutMs));
        QCOMPARE(m_model->errorMessage(), std::nullopt);
        QCOMPARE(step(), QStringLiteral("Connect"));
        QVERIFY(credentialInKeyring().isEmpty());
        QVERIFY(!QFile::exists(AppPaths::config()));
        QVERIFY(!QFile::exists(autostartEntry));
        QTRY_VERIFY_WITH_TIMEOUT(helperIsGone(), stepTimeoutMs);
        QCOMPARE(runnerRecord(QStringLiteral("stops")), QByteArray("terminated\n"));
        QCOMPARE(helperState(), QStringLiteral("stopped"));
    }

private:
    // What the program puts together, but for the folder chooser and this build's helper and service.
    AppModelParts systemParts()
    {
        AppModelParts parts;
        parts.configStore = std::make_unique<FileConfigStore>(AppPaths::config());
        parts.credentialStore = std::make_unique<SystemCredentialStore>(SystemCredentialStore::sharedAccessGroup(),
                                                                        SystemCredentialStore::UnlockPrompt::allowed);
        parts.api = std::make_unique<DeviceAPIClient>(m_service.baseUrl());
        parts.loginItem = [] {
            return std::make_shared<SystemLoginItemManager>(
                SystemLoginItemManager::Locations{QStringLiteral(TARNWICK_HELPER_PATH), autostartEntry},
                []() -> std::optional<pid_t> {
                    const std::optional<qint64> pid = HelperInstanceLock::runningHelperPid();
                    return pid ? std::optional<pid_t>(pid_t(*pid)) : std::nullopt;
                });
        };
        parts.signIn = std::unique_ptr<SystemBrowserSignIn>(m_signIn = new SystemBrowserSignIn);
        parts.discoverProviders = [] { return ProviderDiscovery().discover(); };
        parts.folderChooser = std::make_unique<ChosenFolder>();
        parts.networkMonitor = std::make_unique<SystemNetworkMonitor>();
        parts.clock = std::make_unique<SystemClock>();
        parts.deviceName = HostName::localizedName;
        parts.statusPath = AppPaths::status();
        parts.baseURL = m_service.baseUrl();
        parts.appVersion = QStringLiteral(TARNWICK_VERSION);
        parts.appBuild = QStringLiteral(TARNWICK_BUILD_NUMBER);
        return parts;
    }
    QString step() const { return m_model->property("step").toString(); }
    QString windowText(const char *objectName, const char *property = "text") const
    {
        const auto *item = m_window->window()->findChild<QQuickItem *>(QLatin1String(objectName));
        return item ? item->property(property).toString() : QString();
    }
    QString bundleFile(const QString &name) const
    {
        return m_bundle.filePath(QStringLiteral("Contents/Resources/") + name);
    }
    QByteArray runnerRecord(const QString &name) const
    {
        return readFile(bundleFile(QStringLiteral("runtime/runner-record.") + name));
    }

    LocalServiceProcess m_service;
    QTemporaryDir m_bundle;
    const QString m_chosenFolder = QDir::home().filePath(QStringLiteral("My Projects"));
    SingleInstance m_instance{SingleInstance::defaultSocketPath()};
    SystemBrowserSignIn *m_signIn = nullptr;
    std::unique_ptr<AppModel> m_model;
    std::unique_ptr<DesktopActions> m_desktop;
    std::unique_ptr<WindowLoader> m_window;
    QByteArray m_credential;
};

int main(int argc, char *argv[])
{
    keepSoftwareGlDriverLoaded();
    QApplication application(argc, argv);
    TestFirstSetup test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_firstsetup.moc"
