// The first setup end to end with real processes: local service, window and system adapters, the Tarnwick
// program taking the browser script's link, scripted shell, agents and runtime, the helper started from its
// autostart entry. Only the folder chooser is the test's. The steps run in order and build on each other.

#include "LocalServiceProcess.h"
#include "SystemSetup.h"
#include "TestFiles.h"
#include "TestKeyring.h"

#include "config/AppPaths.h"
#include "view/DesktopActions.h"
#include "view/WindowLoader.h"

#include <QApplication>
#include <QJsonDocument>
#include <QJsonObject>
#include <QQuickItem>
#include <QQuickWindow>
#include <QRegularExpression>
#include <QTest>

#include <csignal>

namespace {

const QString scripts = QStringLiteral(E2E_SCRIPTS_DIR);
// Generous: every step answers within seconds unless something is broken.
constexpr int stepTimeoutMs = 30000;

QString helperState()
{
    const QJsonObject status = QJsonDocument::fromJson(TestFiles::read(AppPaths::status())).object();
    return status.value(QStringLiteral("state")).toString();
}
// The helper holds its lock until its process ends.
std::optional<qint64> runningHelper()
{
    return HelperInstanceLock::runningHelperPid();
}

} // namespace

class TestFirstSetup : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY2(m_service.start(), m_service.errors().constData());
        QVERIFY(QDir().mkpath(SystemSetup::chosenFolder()));
        // A copy of the bundle's resources whose runtime is the recording script.
        QVERIFY(TestFiles::write(bundleFile(QStringLiteral("runtime/node")),
                                 TestFiles::read(scripts + QStringLiteral("/recording-runner.sh")),
                                 QFile::ReadOwner | QFile::ExeOwner));
        QVERIFY(TestFiles::write(bundleFile(QStringLiteral("runner/runner.js")), "// the runner\n"));
        // The desktop's side of things, as the programs look it up.
        qputenv("BROWSER", QFile::encodeName(scripts + QStringLiteral("/browser.js")));
        qputenv("TARNWICK_E2E_APP", QByteArrayLiteral(TARNWICK_APP_PATH));
        qputenv("SHELL", QFile::encodeName(scripts + QStringLiteral("/login-shell.sh")));
        qputenv("TARNWICK_E2E_PATH", QFile::encodeName(scripts) + ":/usr/bin:/bin");
        qputenv("TWK_MAIN_APP_BUNDLE", QFile::encodeName(m_bundle.path()));
        m_setup = std::make_unique<SystemSetup>(m_service.baseUrl());
        QVERIFY(m_setup->listen());
        m_desktop = std::make_unique<DesktopActions>(m_service.baseUrl());
        m_window = std::make_unique<WindowLoader>(
            model(), *m_desktop, QStringLiteral(TARNWICK_BUNDLE_DIR "/Contents/Resources/LogoMark.png"));
        QVERIFY(m_window->window());
    }
    void cleanupTestCase()
    {
        // A helper left running by a failed step would outlive the test's session.
        if (const std::optional<qint64> helper = runningHelper()) {
            ::kill(pid_t(*helper), SIGTERM);
            QTRY_VERIFY_WITH_TIMEOUT(!runningHelper(), 10000);
        }
    }
    // The browser hands the link to a second start of Tarnwick, which passes it to this instance.
    void signsInThroughTheBrowser()
    {
        QCOMPARE(step(), QStringLiteral("Connect"));
        m_window->window()->show();
        QTRY_COMPARE_WITH_TIMEOUT(step(), QStringLiteral("Providers"), stepTimeoutMs);
        QCOMPARE(model().errorMessage(), std::nullopt);
        QVERIFY(model().deviceId());
        m_credential = TestKeyring::credentialSecrets().value(0);
        const QRegularExpression token(QStringLiteral("^twk_device_%1\\.[A-Za-z0-9_-]{43}$")
                                           .arg(model().deviceId()->toString(QUuid::WithoutBraces)),
                                       QRegularExpression::CaseInsensitiveOption);
        QVERIFY2(token.match(QString::fromUtf8(m_credential)).hasMatch(), m_credential.constData());
    }
    // The login shell's search path leads to the scripted agents (their paths are checked in the
    // configuration file).
    void findsTheCodingAgents()
    {
        QTRY_VERIFY_WITH_TIMEOUT(model().providerReadiness() && !model().busy(), stepTimeoutMs);
        QVERIFY(model().providerReadiness()->codexReady && model().providerReadiness()->claudeCodeReady);
        model().continueFromProviders();
        QCOMPARE(step(), QStringLiteral("Folders"));
    }
    // Finishing writes the configuration file and the autostart entry, and starts the helper.
    void finishesSetupWithTheChosenFolder()
    {
        model().chooseFolders();
        QTRY_COMPARE(model().selectedFolders(), QList<QUrl>{QUrl::fromLocalFile(SystemSetup::chosenFolder())});
        model().finishSetup();
        QTRY_VERIFY_WITH_TIMEOUT(!model().busy(), stepTimeoutMs);
        QCOMPARE(model().errorMessage(), std::nullopt);
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
                .arg(json(SystemSetup::chosenFolder()), json(m_service.baseUrl().toString()),
                     model().deviceId()->toString(QUuid::WithoutBraces).toUpper(),
                     json(scripts + QStringLiteral("/claude")), json(scripts + QStringLiteral("/codex")));
        QCOMPARE(QString::fromUtf8(TestFiles::read(AppPaths::config())), expectedConfig);
        QCOMPARE(QFileInfo(AppPaths::config()).permissions(),
                 QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadUser | QFileDevice::WriteUser);
        const QString autostartEntry = SystemSetup::autostartEntry();
        QCOMPARE(QString::fromUtf8(TestFiles::read(autostartEntry)),
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
        QTRY_VERIFY_WITH_TIMEOUT(!runnerRecord("stdin").isEmpty(), stepTimeoutMs);
        QVERIFY(runningHelper());
        QCOMPARE(runnerRecord("stdin"), m_credential + '\n');
        QStringList environment = QString::fromUtf8(runnerRecord("environment")).split(u'\n', Qt::SkipEmptyParts);
        environment.sort();
        QCOMPARE(environment,
                 (QStringList{QStringLiteral("HOME=") + QDir::homePath(), QStringLiteral("NODE_ENV=production"),
                              QStringLiteral("PATH=/usr/bin:/bin:/usr/sbin:/sbin"),
                              QStringLiteral("TMPDIR=") + QDir::tempPath()}));
        QCOMPARE(runnerRecord("arguments"), QFile::encodeName(bundleFile(QStringLiteral("runner/runner.js"))) + '\n');
        QCOMPARE(runnerRecord("folder").trimmed(), QFile::encodeName(AppPaths::applicationSupportDirectory()));
    }
    // The helper's heartbeat makes the status connected; the window's next reading shows it.
    void windowShowsReadyForCalls()
    {
        QTRY_COMPARE_WITH_TIMEOUT(helperState(), QStringLiteral("connected"), stepTimeoutMs);
        QTRY_COMPARE_WITH_TIMEOUT(model().property("readyStatus").toString(), QStringLiteral("ReadyForCalls"),
                                  stepTimeoutMs);
        QCOMPARE(step(), QStringLiteral("Connected"));
        QTRY_COMPARE(windowText("statusTitle"), QStringLiteral("Ready for calls"));
        QCOMPARE(windowText("phoneNumber"), QStringLiteral("+1 (555) 010-0199"));
        QCOMPARE(windowText("phoneNumber", "visible"), QStringLiteral("true"));
    }
    // Removing the autostart entry stops the helper, which stops the runner first.
    void logOutRemovesTheSetup()
    {
        QVERIFY(runningHelper());
        // Waits for the step, not the next finished operation: the check 3 s after finishing may end first.
        model().logOut();
        QTRY_COMPARE_WITH_TIMEOUT(step(), QStringLiteral("Connect"), stepTimeoutMs);
        QCOMPARE(model().errorMessage(), std::nullopt);
        QCOMPARE(TestKeyring::credentialSecrets(), QList<QByteArray>());
        QVERIFY(!QFile::exists(AppPaths::config()));
        QVERIFY(!QFile::exists(SystemSetup::autostartEntry()));
        QTRY_VERIFY_WITH_TIMEOUT(!runningHelper(), stepTimeoutMs);
        QCOMPARE(runnerRecord("stops"), QByteArray("terminated\n"));
        QCOMPARE(helperState(), QStringLiteral("stopped"));
    }

private:
    AppModel &model() { return m_setup->model(); }
    QString step() { return model().property("step").toString(); }
    QString windowText(const char *objectName, const char *property = "text") const
    {
        const auto *item = m_window->window()->findChild<QQuickItem *>(QLatin1String(objectName));
        return item ? item->property(property).toString() : QString();
    }
    QString bundleFile(const QString &name) const
    {
        return m_bundle.filePath(QStringLiteral("Contents/Resources/") + name);
    }
    QByteArray runnerRecord(const char *name) const
    {
        return TestFiles::read(bundleFile(QStringLiteral("runtime/runner-record.") + QLatin1String(name)));
    }

    LocalServiceProcess m_service;
    QTemporaryDir m_bundle;
    std::unique_ptr<SystemSetup> m_setup;
    std::unique_ptr<DesktopActions> m_desktop;
    std::unique_ptr<WindowLoader> m_window;
    QByteArray m_credential;
};

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    TestFirstSetup test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_firstsetup.moc"
