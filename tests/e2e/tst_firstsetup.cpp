// The first setup end to end, with real processes: the local service, the setup window over the model and
// its system adapters, a browser script that approves the connection and hands the tarnwick: link to the
// Tarnwick program, the login shell and coding agents as scripts, the helper started through its autostart
// entry, and a runtime that records what the helper hands the runner. Only the folder chooser is the
// test's: it answers with one folder as a user would.
//
// The steps run in order and build on each other; a failed step fails the ones after it.

#include "LocalServiceProcess.h"

#include "api/DeviceAPIClient.h"
#include "common/HelperInstanceLock.h"
#include "config/AppPaths.h"
#include "config/FileConfigStore.h"
#include "credentials/SystemCredentialStore.h"
#include "discovery/ProviderDiscovery.h"
#include "model/AppModel.h"
#include "platform/AutostartEntry.h"
#include "platform/HostName.h"
#include "platform/SingleInstance.h"
#include "platform/SystemBrowserSignIn.h"
#include "platform/SystemLoginItemManager.h"
#include "platform/SystemNetworkMonitor.h"
#include "view/DesktopActions.h"
#include "view/WindowLoader.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
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

#include <dlfcn.h>


namespace {

const QString scripts = QStringLiteral(E2E_SCRIPTS_DIR);
const QString loginItemIdentifier = QStringLiteral("com.tarnwick.mac.helper");

// Steps that wait on the service, outside programs or the helper's first heartbeat (one second) and the
// window's status reading (every three seconds) get this long; it only matters when something is broken.
constexpr int stepTimeoutMs = 30000;

class ChosenFolders final : public FolderChoosing
{
public:
    explicit ChosenFolders(QList<QUrl> folders) : m_folders(std::move(folders)) {}

    QCoro::Task<std::optional<QList<QUrl>>> chooseFolders(const QString &, const QString &) override
    {
        co_return m_folders;
    }

private:
    QList<QUrl> m_folders;
};

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// "/" is written "\/" in the configuration file.
QString jsonPath(const QString &path)
{
    return QString(path).replace(u'/', QStringLiteral("\\/"));
}

struct KeyringLookup
{
    int exitCode = -1;
    QByteArray secret;
};

KeyringLookup lookUpCredentialInKeyring()
{
    QProcess secretTool;
    secretTool.start(QStringLiteral("secret-tool"),
                     {QStringLiteral("lookup"), QStringLiteral("service"), QStringLiteral("com.tarnwick.mac"),
                      QStringLiteral("account"), QStringLiteral("device-credential")});
    if (!secretTool.waitForFinished(10000))
        return {};
    return {secretTool.exitCode(), secretTool.readAllStandardOutput().trimmed()};
}

QJsonObject helperStatusFile()
{
    return QJsonDocument::fromJson(readFile(AppPaths::status())).object();
}

// The helper holds its lock until its process ends, so a free lock means the helper is gone.
bool helperIsGone()
{
    return !HelperInstanceLock::runningHelperPid();
}

} // namespace

class FirstSetup : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();

    void signsInThroughTheBrowser();
    void findsTheCodingAgents();
    void finishesSetupWithTheChosenFolder();
    void helperHandsTheRunnerItsCredential();
    void windowShowsReadyForCalls();
    void logOutRemovesTheSetup();

private:
    void setUpRunnerBundle();
    AppModelParts systemPartsWithChosenFolder();
    QString step() const { return m_model->property("step").toString(); }
    QString windowText(const char *objectName, const char *property) const;
    // The recording runtime writes next to itself.
    QString runnerRecord(const QString &name) const
    {
        return m_runnerBundle.filePath(QStringLiteral("Contents/Resources/runtime/runner-record.") + name);
    }

    LocalServiceProcess m_service;
    QTemporaryDir m_runnerBundle;
    QString m_chosenFolder;
    std::unique_ptr<SingleInstance> m_instance;
    SystemBrowserSignIn *m_signIn = nullptr;
    std::unique_ptr<AppModel> m_model;
    std::unique_ptr<DesktopActions> m_desktop;
    std::unique_ptr<WindowLoader> m_window;
    QString m_credential;
};

void FirstSetup::initTestCase()
{
    QVERIFY2(m_service.start(), m_service.errors().constData());
    setUpRunnerBundle();

    m_chosenFolder = QDir::home().filePath(QStringLiteral("My Projects"));
    QVERIFY(QDir().mkpath(m_chosenFolder));

    // The desktop's side of things, as the programs look it up.
    qputenv("BROWSER", QFile::encodeName(scripts + QStringLiteral("/browser.js")));
    qputenv("TARNWICK_E2E_APP", QByteArrayLiteral(TARNWICK_APP_PATH));
    qputenv("SHELL", QFile::encodeName(scripts + QStringLiteral("/login-shell.sh")));
    qputenv("TARNWICK_E2E_PATH", QFile::encodeName(scripts) + ":/usr/bin:/bin");
    qputenv("TWK_MAIN_APP_BUNDLE", QFile::encodeName(m_runnerBundle.path()));

    // The running setup application: tarnwick: links handed to a second start arrive here.
    m_instance = std::make_unique<SingleInstance>(SingleInstance::defaultSocketPath());
    QVERIFY(m_instance->listen());
    m_model = std::make_unique<AppModel>(systemPartsWithChosenFolder());
    connect(m_instance.get(), &SingleInstance::messageReceived, this,
            [this](const QString &message) { m_signIn->acceptCallback(QUrl(message)); });
    m_desktop = std::make_unique<DesktopActions>(m_service.baseUrl());
    m_window = std::make_unique<WindowLoader>(*m_model, *m_desktop,
                                              QStringLiteral(TARNWICK_BUNDLE_DIR "/Contents/Resources/LogoMark.png"));
    QVERIFY(m_window->window());
}

void FirstSetup::cleanupTestCase()
{
    // A helper left running by a failed step would outlive the test's session.
    if (const std::optional<qint64> helper = HelperInstanceLock::runningHelperPid()) {
        ::kill(pid_t(*helper), SIGTERM);
        QTRY_VERIFY_WITH_TIMEOUT(helperIsGone(), 10000);
    }
}

// A copy of the bundle's resources whose runtime is the recording script.
void FirstSetup::setUpRunnerBundle()
{
    QVERIFY(m_runnerBundle.isValid());
    const QDir resources(m_runnerBundle.filePath(QStringLiteral("Contents/Resources")));
    QVERIFY(resources.mkpath(QStringLiteral("runtime")) && resources.mkpath(QStringLiteral("runner")));
    QVERIFY(QFile::copy(scripts + QStringLiteral("/recording-runner.sh"),
                        resources.filePath(QStringLiteral("runtime/node"))));
    QVERIFY(QFile::copy(QStringLiteral(TARNWICK_BUNDLE_DIR "/Contents/Resources/runner/runner.js"),
                        resources.filePath(QStringLiteral("runner/runner.js"))));
}

// What the program itself puts together, but for the folder chooser and for where the helper and the
// service are: those of this build.
AppModelParts FirstSetup::systemPartsWithChosenFolder()
{
    AppModelParts parts;
    parts.configStore = std::make_unique<FileConfigStore>(AppPaths::config());
    parts.credentialStore = std::make_unique<SystemCredentialStore>(SystemCredentialStore::sharedAccessGroup(),
                                                                    SystemCredentialStore::UnlockPrompt::allowed);
    parts.api = std::make_unique<DeviceAPIClient>(m_service.baseUrl());
    parts.loginItem = [] {
        const SystemLoginItemManager::Locations locations{QStringLiteral(TARNWICK_HELPER_PATH),
                                                          AutostartEntry::path(loginItemIdentifier)};
        return std::make_shared<SystemLoginItemManager>(locations, []() -> std::optional<pid_t> {
            const std::optional<qint64> pid = HelperInstanceLock::runningHelperPid();
            return pid ? std::optional<pid_t>(pid_t(*pid)) : std::nullopt;
        });
    };
    auto signIn = std::make_unique<SystemBrowserSignIn>();
    m_signIn = signIn.get();
    parts.signIn = std::move(signIn);
    parts.discoverProviders = [] { return ProviderDiscovery().discover(); };
    parts.folderChooser = std::make_unique<ChosenFolders>(QList<QUrl>{QUrl::fromLocalFile(m_chosenFolder)});
    parts.networkMonitor = std::make_unique<SystemNetworkMonitor>();
    parts.clock = std::make_unique<SystemClock>();
    parts.deviceName = HostName::localizedName;
    parts.statusPath = AppPaths::status();
    parts.baseURL = m_service.baseUrl();
    parts.appVersion = QStringLiteral(TARNWICK_VERSION);
    parts.appBuild = QStringLiteral(TARNWICK_BUILD_NUMBER);
    return parts;
}

QString FirstSetup::windowText(const char *objectName, const char *property) const
{
    const auto *item = m_window->window()->findChild<QQuickItem *>(QString::fromLatin1(objectName));
    return item ? item->property(property).toString() : QString();
}

// Showing the window opens the connection page; the browser approves and starts Tarnwick with the link,
// which reaches this instance; the model exchanges the code and keeps the credential in the keyring.
void FirstSetup::signsInThroughTheBrowser()
{
    QCOMPARE(step(), QStringLiteral("connect"));
    m_window->window()->show();
    QTRY_COMPARE_WITH_TIMEOUT(step(), QStringLiteral("providers"), stepTimeoutMs);
    QCOMPARE(m_model->errorMessage(), std::nullopt);
    QVERIFY(m_model->deviceId());

    const KeyringLookup stored = lookUpCredentialInKeyring();
    QCOMPARE(stored.exitCode, 0);
    m_credential = QString::fromUtf8(stored.secret);
    const QRegularExpression token(QStringLiteral("^twk_device_%1\\.[A-Za-z0-9_-]{43}$")
                                       .arg(m_model->deviceId()->toString(QUuid::WithoutBraces)),
                                   QRegularExpression::CaseInsensitiveOption);
    QVERIFY2(token.match(m_credential).hasMatch(), qPrintable(m_credential));
}

// The login shell's search path leads to the scripted agents, which answer as installed and signed in.
void FirstSetup::findsTheCodingAgents()
{
    QTRY_VERIFY_WITH_TIMEOUT(m_model->providerReadiness() && !m_model->busy(), stepTimeoutMs);
    const ProviderReadiness &readiness = *m_model->providerReadiness();
    QVERIFY(readiness.codexReady);
    QVERIFY(readiness.claudeCodeReady);
    QCOMPARE(readiness.paths.codex, scripts + QStringLiteral("/codex"));
    QCOMPARE(readiness.paths.claudeCode, scripts + QStringLiteral("/claude"));

    m_model->continueFromProviders();
    QCOMPARE(step(), QStringLiteral("folders"));
}

// Finishing writes the configuration file and the autostart entry, and starts the helper.
void FirstSetup::finishesSetupWithTheChosenFolder()
{
    m_model->chooseFolders();
    QTRY_COMPARE(m_model->selectedFolders(), QList<QUrl>{QUrl::fromLocalFile(m_chosenFolder)});

    m_model->finishSetup();
    QTRY_VERIFY_WITH_TIMEOUT(!m_model->busy(), stepTimeoutMs);
    QCOMPARE(m_model->errorMessage(), std::nullopt);

    const QString expectedConfig = QStringLiteral(R"({
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
                                       .arg(jsonPath(m_chosenFolder), jsonPath(m_service.baseUrl().toString()),
                                            m_model->deviceId()->toString(QUuid::WithoutBraces).toUpper(),
                                            jsonPath(scripts + QStringLiteral("/claude")),
                                            jsonPath(scripts + QStringLiteral("/codex")));
    QCOMPARE(QString::fromUtf8(readFile(AppPaths::config())), expectedConfig);
    QCOMPARE(QFileInfo(AppPaths::config()).permissions(),
             QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadUser | QFileDevice::WriteUser);

    const QString expectedEntry = QStringLiteral("[Desktop Entry]\n"
                                                 "Type=Application\n"
                                                 "Name=Tarnwick\n"
                                                 "Comment=Keeps this computer ready to take calls\n"
                                                 "Exec=%1\n"
                                                 "Icon=tarnwick\n"
                                                 "Terminal=false\n"
                                                 "NoDisplay=true\n"
                                                 "X-GNOME-Autostart-enabled=true\n")
                                      .arg(QStringLiteral(TARNWICK_HELPER_PATH));
    QCOMPARE(QString::fromUtf8(readFile(AutostartEntry::path(loginItemIdentifier))), expectedEntry);
}

// The helper reads the keyring and the configuration, and starts the runtime with the runner script, four
// variables and the credential on its standard input.
void FirstSetup::helperHandsTheRunnerItsCredential()
{
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(runnerRecord(QStringLiteral("stdin"))), stepTimeoutMs);
    QVERIFY(!helperIsGone());

    QCOMPARE(readFile(runnerRecord(QStringLiteral("stdin"))), m_credential.toUtf8() + '\n');
    QStringList environment = QString::fromUtf8(readFile(runnerRecord(QStringLiteral("environment"))))
                                  .split(u'\n', Qt::SkipEmptyParts);
    environment.sort();
    QCOMPARE(environment, (QStringList{QStringLiteral("HOME=") + QDir::homePath(),
                                       QStringLiteral("NODE_ENV=production"),
                                       QStringLiteral("PATH=/usr/bin:/bin:/usr/sbin:/sbin"),
                                       QStringLiteral("TMPDIR=") + QDir::tempPath()}));
    QCOMPARE(readFile(runnerRecord(QStringLiteral("arguments"))),
             QFile::encodeName(m_runnerBundle.filePath(QStringLiteral("Contents/Resources/runner/runner.js"))) + '\n');
    QCOMPARE(readFile(runnerRecord(QStringLiteral("folder"))).trimmed(),
             QFile::encodeName(AppPaths::applicationSupportDirectory()));
}

// The helper's heartbeat makes the status connected; the window's next reading shows it.
void FirstSetup::windowShowsReadyForCalls()
{
    QTRY_COMPARE_WITH_TIMEOUT(helperStatusFile().value(QStringLiteral("state")).toString(), QStringLiteral("connected"),
                              stepTimeoutMs);
    QTRY_COMPARE_WITH_TIMEOUT(m_model->property("readyStatus").toString(), QStringLiteral("readyForCalls"),
                              stepTimeoutMs);
    QCOMPARE(step(), QStringLiteral("connected"));
    QTRY_COMPARE(windowText("statusTitle", "text"), QStringLiteral("Ready for calls"));
    QCOMPARE(windowText("phoneNumber", "text"), QStringLiteral("+1 (555) 010-0199"));
    QCOMPARE(windowText("phoneNumber", "visible"), QStringLiteral("true"));
}

// Logging out disconnects the device, removes the autostart entry (stopping the helper, which stops the
// runner first), the credential and the configuration.
void FirstSetup::logOutRemovesTheSetup()
{
    QVERIFY(!helperIsGone());
    QSignalSpy finished(m_model.get(), &AppModel::operationFinished);
    m_model->logOut();
    QVERIFY(finished.wait(stepTimeoutMs));
    QCOMPARE(m_model->errorMessage(), std::nullopt);
    QCOMPARE(step(), QStringLiteral("connect"));

    const KeyringLookup stored = lookUpCredentialInKeyring();
    QVERIFY(stored.secret.isEmpty());
    QVERIFY(!QFile::exists(AppPaths::config()));
    QVERIFY(!QFile::exists(AutostartEntry::path(loginItemIdentifier)));

    QTRY_VERIFY_WITH_TIMEOUT(helperIsGone(), stepTimeoutMs);
    QCOMPARE(readFile(runnerRecord(QStringLiteral("stops"))), QByteArray("terminated\n"));
    QCOMPARE(helperStatusFile().value(QStringLiteral("state")).toString(), QStringLiteral("stopped"));
}

// Mesa's software GL driver keeps a few bytes for good and is unloaded before the leak check can name
// them; kept loaded, its allocations carry its name and this suppression applies to them alone.
extern "C" const char *__lsan_default_suppressions()
{
    return "leak:swrast_dri.so\n";
}

int main(int argc, char *argv[])
{
    dlopen("/usr/lib/x86_64-linux-gnu/dri/swrast_dri.so", RTLD_NOW | RTLD_GLOBAL | RTLD_NODELETE);
    QApplication application(argc, argv);
    FirstSetup test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_firstsetup.moc"
