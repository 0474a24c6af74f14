// The first setup end to end with real processes: local service, keyring, window and system adapters, the
// Tarnwick program taking the browser script's link, scripted shell, agent and runtime, the helper started
// by its registration. Only the folder chooser is the test's. The steps run in order and build on each other.
// What each part decides alone is tested in-process; here the parts meet.

#include "LocalServiceProcess.h"
#include "SystemSetup.h"
#include "TestFiles.h"
#include "TestKeyring.h"

#include "config/AppConfig.h"
#include "config/AppPaths.h"
#include "status/HelperStatus.h"
#include "view/DesktopActions.h"
#include "view/WindowLoader.h"

#include <QQuickWindow>
#include <QTest>

#include <csignal>

namespace {

const QString scripts = QStringLiteral(E2E_SCRIPTS_DIR);
// Generous: every step answers within seconds unless something is broken.
constexpr int stepTimeoutMs = 30000;

} // namespace

class TestFirstSetup : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_service.start());
        QVERIFY(QDir().mkpath(SystemSetup::chosenFolder()));
        // A copy of the bundle's resources whose runtime records its standard input beside itself, then runs
        // like the runner until it is asked to stop.
        QVERIFY(TestFiles::writeScript(runtime(), "cat > \"$0.stdin.part\" && mv \"$0.stdin.part\" \"$0.stdin\"\n"
                                                  "trap 'echo terminated >> \"$0.stops\"; exit 0' TERM\n"
                                                  "while :; do sleep 1 & wait $!; done"));
        QVERIFY(TestFiles::write(m_bundle.filePath(QStringLiteral("Contents/Resources/runner/runner.js")), "//\n"));
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
        if (const std::optional<qint64> helper = HelperInstanceLock::runningHelperPid()) {
            ::kill(pid_t(*helper), SIGTERM);
            QTRY_VERIFY_WITH_TIMEOUT(!HelperInstanceLock::runningHelperPid(), 10000);
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
        // The keyring holds the credential the service issued for this device.
        m_credential = TestKeyring::credentialSecrets().value(0);
        const QByteArray device = model().deviceId()->toByteArray(QUuid::WithoutBraces).toLower();
        QVERIFY2(m_credential.toLower().startsWith("twk_device_" + device + '.'), m_credential.constData());
    }
    // The login shell's search path leads to the scripted Codex; finishing writes its path and the chosen
    // folder into the configuration file, and registers the helper.
    void finishesSetupWithTheAgentFoundAndTheChosenFolder()
    {
        QTRY_VERIFY_WITH_TIMEOUT(model().providerReadiness() && !model().busy(), stepTimeoutMs);
        model().continueFromProviders();
        QCOMPARE(step(), QStringLiteral("Folders"));
        model().chooseFolders();
        const QString folder = SystemSetup::chosenFolder();
        QTRY_COMPARE(model().selectedFolders(), QList<QUrl>{QUrl::fromLocalFile(folder)});
        model().finishSetup();
        QTRY_VERIFY_WITH_TIMEOUT(!model().busy(), stepTimeoutMs);
        QCOMPARE(model().errorMessage(), std::nullopt);
        const AppConfig expected{m_service.baseUrl().toString(),
                                 *model().deviceId(),
                                 QStringLiteral("0.3.0"),
                                 {folder},
                                 folder,
                                 ProviderPaths{scripts + QStringLiteral("/codex"), std::nullopt}};
        QCOMPARE(AppConfig::decode(TestFiles::read(AppPaths::config())).value_or(AppConfig()), expected);
        QVERIFY(TestFiles::read(SystemSetup::autostartEntry()).contains("\nExec=" TARNWICK_HELPER_PATH "\n"));
    }
    // The helper hands the runner the credential from the keyring; its heartbeat makes the status connected,
    // and the window's next reading shows it (how the ready screen draws each state is tested on its own).
    void windowShowsReadyForCalls()
    {
        QTRY_COMPARE_WITH_TIMEOUT(runnerRecord("stdin"), m_credential + '\n', stepTimeoutMs);
        QTRY_COMPARE_WITH_TIMEOUT(model().property("readyStatus").toString(), QStringLiteral("ReadyForCalls"),
                                  stepTimeoutMs);
        QCOMPARE(step(), QStringLiteral("Connected"));
    }
    // Removing the autostart entry stops the helper, which stops the runner first.
    void logOutRemovesTheSetup()
    {
        QVERIFY(HelperInstanceLock::runningHelperPid());
        // Waits for the step, not the next finished operation: the check 3 s after finishing may end first.
        model().logOut();
        QTRY_COMPARE_WITH_TIMEOUT(step(), QStringLiteral("Connect"), stepTimeoutMs);
        QCOMPARE(model().errorMessage(), std::nullopt);
        QCOMPARE(TestKeyring::credentialSecrets(), QList<QByteArray>());
        QVERIFY(!QFile::exists(AppPaths::config()));
        QVERIFY(!QFile::exists(SystemSetup::autostartEntry()));
        QTRY_VERIFY_WITH_TIMEOUT(!HelperInstanceLock::runningHelperPid(), stepTimeoutMs);
        QCOMPARE(runnerRecord("stops"), QByteArray("terminated\n"));
        const Result<HelperStatus> status = HelperStatus::decode(TestFiles::read(AppPaths::status()));
        QVERIFY(status && status->state() == HelperStatus::State::stopped);
    }

private:
    AppModel &model() { return m_setup->model(); }
    QString step() { return model().property("step").toString(); }
    QString runtime() const { return m_bundle.filePath(QStringLiteral("Contents/Resources/runtime/node")); }
    QByteArray runnerRecord(const char *name) const { return TestFiles::read(runtime() + u'.' + QLatin1String(name)); }

    LocalServiceProcess m_service;
    QTemporaryDir m_bundle;
    std::unique_ptr<SystemSetup> m_setup;
    std::unique_ptr<DesktopActions> m_desktop;
    std::unique_ptr<WindowLoader> m_window;
    QByteArray m_credential;
};

QTEST_MAIN(TestFirstSetup)
#include "tst_firstsetup.moc"
