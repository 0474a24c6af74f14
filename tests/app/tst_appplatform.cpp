#include "platform/AutostartEntry.h"
#include "platform/HostName.h"
#include "platform/RouteTable.h"
#include "platform/SingleInstance.h"
#include "platform/SystemBrowserSignIn.h"
#include "platform/SystemFolderChooser.h"
#include "platform/SystemLoginItemManager.h"
#include "platform/SystemNetworkMonitor.h"
#include "model/SignInError.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QFile>
#include <QFileDialog>
#include <QPushButton>
#include <QDialogButtonBox>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <csignal>

namespace {

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool writeScript(const QString &path, const QByteArray &body)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.write("#!/bin/sh\n" + body);
    file.close();
    return file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

QCoro::Task<> askFolders(FolderChoosing *chooser, std::optional<std::optional<QList<QUrl>>> *answer)
{
    *answer = co_await chooser->chooseFolders(QStringLiteral("Choose folders Tarnwick may use"),
                                             QStringLiteral("Allow folders"));
}

bool processIsAlive(pid_t pid)
{
    return ::kill(pid, 0) == 0;
}

} // namespace

class AppPlatformTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void execArgumentsAreQuoted_data();
    void execArgumentsAreQuoted();
    void switchedOffEntries_data();
    void switchedOffEntries();

    void loginItemLifecycle();
    void switchedOffEntryIsNeverRewritten();
    void missingHelperIsNotFound();

    void defaultRoutes();
    void prettyHostName_data();
    void prettyHostName();

    void secondStartForwardsItsMessage();
    void staleSocketIsReplaced();

    void browserSignIn();
    void browserThatCannotStart();

    void networkMonitorReportsSoon();
    void folderDialogAsksForSeveralFolders();

    void programAnswersHelpAndVersion();
    void programForwardsCallbackToRunningInstance();
};

void AppPlatformTest::execArgumentsAreQuoted_data()
{
    QTest::addColumn<QString>("argument");
    QTest::addColumn<QString>("quoted");
    QTest::newRow("plain") << QStringLiteral("/opt/tarnwick/TarnwickHelper") << QStringLiteral("/opt/tarnwick/TarnwickHelper");
    QTest::newRow("space") << QStringLiteral("/home/a b/Helper") << QStringLiteral("\"/home/a b/Helper\"");
    QTest::newRow("dollar and quote") << QStringLiteral("/x/$y\"z") << QStringLiteral("\"/x/\\\\$y\\\\\"z\"");
    QTest::newRow("percent") << QStringLiteral("/x/100%") << QStringLiteral("/x/100%%");
    QTest::newRow("backslash") << QStringLiteral("/x\\y") << QStringLiteral("\"/x\\\\\\\\y\"");
}

void AppPlatformTest::execArgumentsAreQuoted()
{
    QFETCH(QString, argument);
    QFETCH(QString, quoted);
    QCOMPARE(AutostartEntry::quotedExecArgument(argument), quoted);
}

void AppPlatformTest::switchedOffEntries_data()
{
    QTest::addColumn<QByteArray>("entry");
    QTest::addColumn<bool>("switchedOff");
    const QByteArray head = "[Desktop Entry]\nType=Application\nExec=helper\n";
    QTest::newRow("as written") << AutostartEntry::contents(QStringLiteral("/x/helper")) << false;
    QTest::newRow("hidden") << head + "Hidden=true\n" << true;
    QTest::newRow("gnome off") << head + "X-GNOME-Autostart-enabled=false\n" << true;
    QTest::newRow("mate off") << head + "X-MATE-Autostart-enabled=false\n" << true;
    QTest::newRow("kde off") << head + "X-KDE-autostart-enabled=false\n" << true;
    QTest::newRow("gnome on") << head + "X-GNOME-Autostart-enabled=true\n" << false;
    QTest::newRow("other group") << head + "[Desktop Action x]\nHidden=true\n" << false;
    QTest::newRow("comment") << head + "#Hidden=true\n" << false;
}

void AppPlatformTest::switchedOffEntries()
{
    QFETCH(QByteArray, entry);
    QFETCH(bool, switchedOff);
    QCOMPARE(AutostartEntry::isSwitchedOff(entry), switchedOff);
}

void AppPlatformTest::loginItemLifecycle()
{
    QTemporaryDir folder;
    const QString helper = folder.filePath(QStringLiteral("Tarnwick Helper"));
    const QString pidFile = folder.filePath(QStringLiteral("helper.pid"));
    QVERIFY(writeScript(helper, "echo $$ > '" + pidFile.toUtf8() + "'\nexec sleep 30\n"));
    const QString entry = folder.filePath(QStringLiteral("autostart/com.tarnwick.mac.helper.desktop"));
    auto runningHelper = [&]() -> std::optional<pid_t> {
        const QByteArray pid = readAll(pidFile).trimmed();
        return pid.isEmpty() ? std::nullopt : std::optional<pid_t>(pid.toInt());
    };
    SystemLoginItemManager manager({helper, entry}, runningHelper);

    QCOMPARE(manager.state(), LoginItemState::notRegistered);
    QVERIFY(manager.unregisterItem());
    QVERIFY(manager.registerItem());
    QCOMPARE(manager.state(), LoginItemState::enabled);
    QVERIFY(readAll(entry).contains("Exec=\"" + helper.toUtf8() + "\"\n"));
    QCOMPARE(QFile::permissions(entry) & (QFile::ReadGroup | QFile::ReadOther), QFile::Permissions());
    // The helper is started straight away.
    QTRY_VERIFY_WITH_TIMEOUT(runningHelper().has_value(), 5000);
    const pid_t pid = *runningHelper();
    QVERIFY(processIsAlive(pid));

    // Registering an enabled item changes nothing.
    const QByteArray written = readAll(entry);
    QVERIFY(manager.registerItem());
    QCOMPARE(readAll(entry), written);

    QVERIFY(manager.unregisterItem());
    QVERIFY(!QFile::exists(entry));
    QCOMPARE(manager.state(), LoginItemState::notRegistered);
    // The helper was asked to quit (the detached child is reaped by init, so it may linger as a zombie
    // for a moment; it never keeps running).
    QTRY_VERIFY_WITH_TIMEOUT(!processIsAlive(pid) || readAll(QStringLiteral("/proc/%1/stat").arg(pid)).contains(") Z "), 5000);
}

void AppPlatformTest::switchedOffEntryIsNeverRewritten()
{
    QTemporaryDir folder;
    const QString helper = folder.filePath(QStringLiteral("helper"));
    QVERIFY(writeScript(helper, "exit 0\n"));
    const QString entry = folder.filePath(QStringLiteral("autostart/com.tarnwick.mac.helper.desktop"));
    QVERIFY(QDir().mkpath(folder.filePath(QStringLiteral("autostart"))));
    const QByteArray userChoice = "[Desktop Entry]\nType=Application\nExec=/somewhere/else\nHidden=true\n";
    QFile file(entry);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(userChoice);
    file.close();

    SystemLoginItemManager manager({helper, entry}, {});
    QCOMPARE(manager.state(), LoginItemState::requiresApproval);
    QVERIFY(manager.registerItem());
    QCOMPARE(readAll(entry), userChoice);
    QCOMPARE(manager.state(), LoginItemState::requiresApproval);
}

void AppPlatformTest::missingHelperIsNotFound()
{
    QTemporaryDir folder;
    const QString entry = folder.filePath(QStringLiteral("autostart/x.desktop"));
    SystemLoginItemManager manager({folder.filePath(QStringLiteral("missing")), entry}, {});
    QCOMPARE(manager.state(), LoginItemState::notFound);
    QVERIFY(manager.registerItem());
    QVERIFY(!QFile::exists(entry));
}

void AppPlatformTest::defaultRoutes()
{
    const QByteArray v4 = "Iface\tDestination\tGateway \tFlags\tRefCnt\tUse\tMetric\tMask\t\tMTU\tWindow\tIRTT\n"
                          "eth0\t00000000\t0101A8C0\t0003\t0\t0\t100\t00000000\t0\t0\t0\n"
                          "eth0\t0001A8C0\t00000000\t0001\t0\t0\t100\t00FFFFFF\t0\t0\t0\n"
                          "wlan0\t00000000\t0101A8C0\t0002\t0\t0\t600\t00000000\t0\t0\t0\n";
    QCOMPARE(RouteTable::defaultRouteInterfacesV4(v4), QSet<QString>{QStringLiteral("eth0")});
    const QByteArray v6 = "00000000000000000000000000000000 00 00000000000000000000000000000000 00 fe800000000000000000000000000001 00000400 00000001 00000000 00000003 wlan0\n"
                          "00000000000000000000000000000000 00 00000000000000000000000000000000 00 00000000000000000000000000000000 ffffffff 00000001 00000000 00200200 lo\n"
                          "fe800000000000000000000000000000 40 00000000000000000000000000000000 00 00000000000000000000000000000000 00000100 00000001 00000000 00000001 eth0\n";
    QCOMPARE(RouteTable::defaultRouteInterfacesV6(v6), QSet<QString>{QStringLiteral("wlan0")});
    QVERIFY(RouteTable::defaultRouteInterfacesV4(QByteArray()).isEmpty());
}

void AppPlatformTest::prettyHostName_data()
{
    QTest::addColumn<QByteArray>("machineInfo");
    QTest::addColumn<QString>("name");
    QTest::newRow("quoted") << QByteArray("CHASSIS=laptop\nPRETTY_HOSTNAME=\"Ada's Laptop\"\n") << QStringLiteral("Ada's Laptop");
    QTest::newRow("plain") << QByteArray("PRETTY_HOSTNAME=Studio\n") << QStringLiteral("Studio");
    QTest::newRow("escaped") << QByteArray("PRETTY_HOSTNAME=\"A \\\"B\\\" & C\"\n") << QStringLiteral("A \"B\" & C");
    QTest::newRow("none") << QByteArray("CHASSIS=desktop\n") << QString();
}

void AppPlatformTest::prettyHostName()
{
    QFETCH(QByteArray, machineInfo);
    QFETCH(QString, name);
    QCOMPARE(HostName::prettyHostName(machineInfo), name);
}

void AppPlatformTest::secondStartForwardsItsMessage()
{
    QTemporaryDir folder;
    const QString socket = folder.filePath(QStringLiteral("app.socket"));
    SingleInstance first(socket);
    QVERIFY(!first.forward(QString()));
    QVERIFY(first.listen());
    QSignalSpy received(&first, &SingleInstance::messageReceived);

    // A second start waits while it delivers, so it runs beside this thread's event loop.
    const QString url = QStringLiteral("tarnwick://auth/callback?state=s&code=c");
    bool delivered = false;
    std::unique_ptr<QThread> second(QThread::create([&] { delivered = SingleInstance(socket).forward(url); }));
    second->start();
    QVERIFY(received.wait(5000));
    QVERIFY(second->wait(5000));
    QVERIFY(delivered);
    QCOMPARE(received.first().first().toString(), url);
}

void AppPlatformTest::staleSocketIsReplaced()
{
    QTemporaryDir folder;
    const QString socket = folder.filePath(QStringLiteral("app.socket"));
    {
        QFile stale(socket);
        QVERIFY(stale.open(QIODevice::WriteOnly));
    }
    SingleInstance instance(socket);
    QVERIFY(instance.listen());
}

void AppPlatformTest::browserSignIn()
{
    QTemporaryDir folder;
    const QString opened = folder.filePath(QStringLiteral("opened"));
    const QString browser = folder.filePath(QStringLiteral("browser"));
    QVERIFY(writeScript(browser, "printf '%s' \"$1\" > '" + opened.toUtf8() + "'\n"));
    qputenv("BROWSER", QFile::encodeName(browser) + " %s:/not/there");

    SystemBrowserSignIn signIn;
    std::optional<Result<QUrl>> outcome;
    const QUrl page(QStringLiteral("http://127.0.0.1:8787/connect/mac/10?deviceName=A%20B&state=s"));
    QVERIFY(signIn.start(page, QStringLiteral("tarnwick"), [&](Result<QUrl> r) { outcome = r; }));
    QVERIFY(signIn.isOpen());
    QTRY_COMPARE(readAll(opened), page.toEncoded());

    QVERIFY(!signIn.acceptCallback(QUrl(QStringLiteral("https://auth/callback"))));
    QVERIFY(!outcome);
    QVERIFY(signIn.acceptCallback(QUrl(QStringLiteral("tarnwick://auth/callback?state=s&code=c"))));
    QVERIFY(outcome && *outcome);
    QCOMPARE(**outcome, QUrl(QStringLiteral("tarnwick://auth/callback?state=s&code=c")));
    QVERIFY(!signIn.isOpen());
    // With no sign-in open a forwarded URL is not taken.
    QVERIFY(!signIn.acceptCallback(QUrl(QStringLiteral("tarnwick://auth/callback"))));

    outcome.reset();
    QVERIFY(signIn.start(page, QStringLiteral("tarnwick"), [&](Result<QUrl> r) { outcome = r; }));
    signIn.cancel();
    QVERIFY(outcome && !*outcome);
    QVERIFY(SignInError::isCanceledLogin(outcome->error()));
    qunsetenv("BROWSER");
}

void AppPlatformTest::browserThatCannotStart()
{
    qputenv("BROWSER", "/not/there/at/all");
    SystemBrowserSignIn signIn;
    bool called = false;
    QVERIFY(!signIn.start(QUrl(QStringLiteral("http://127.0.0.1/")), QStringLiteral("tarnwick"),
                          [&](Result<QUrl>) { called = true; }));
    QVERIFY(!signIn.isOpen());
    signIn.cancel();
    QVERIFY(!called);
    qunsetenv("BROWSER");
}

void AppPlatformTest::networkMonitorReportsSoon()
{
    SystemNetworkMonitor monitor;
    QSignalSpy reports(&monitor, &NetworkMonitoring::reachabilityChanged);
    monitor.start();
    // Whatever this machine's network is, the first answer comes without a change having to happen.
    QVERIFY(reports.wait(5000));
    QCOMPARE(reports.size(), 1);
}

void AppPlatformTest::folderDialogAsksForSeveralFolders()
{
    // No desktop portal runs on the test's private bus, so the Qt dialog stands in.
    SystemFolderChooser chooser;
    std::optional<std::optional<QList<QUrl>>> answer;
    askFolders(&chooser, &answer);
    QFileDialog *dialog = nullptr;
    QTRY_VERIFY((dialog = qobject_cast<QFileDialog *>(QApplication::activeModalWidget())));
    QCOMPARE(dialog->windowTitle(), QStringLiteral("Choose folders Tarnwick may use"));
    QCOMPARE(dialog->fileMode(), QFileDialog::Directory);
    QVERIFY(dialog->testOption(QFileDialog::ShowDirsOnly));
    QCOMPARE(dialog->labelText(QFileDialog::Accept), QStringLiteral("Allow folders"));
    const QList<QAbstractItemView *> views = dialog->findChildren<QAbstractItemView *>(QStringLiteral("listView"));
    QVERIFY(!views.isEmpty());
    QCOMPARE(views.first()->selectionMode(), QAbstractItemView::ExtendedSelection);

    dialog->reject();
    QTRY_VERIFY(answer.has_value());
    QVERIFY(!answer->has_value());
}

void AppPlatformTest::programAnswersHelpAndVersion()
{
    QProcess program;
    program.start(QStringLiteral(APP_PROGRAM), {QStringLiteral("--version")});
    QVERIFY(program.waitForFinished(10000));
    QCOMPARE(program.exitCode(), 0);
    QCOMPARE(program.readAllStandardOutput().trimmed(), QByteArray("Tarnwick 0.3.0 (10)"));

    program.start(QStringLiteral(APP_PROGRAM), {QStringLiteral("--help")});
    QVERIFY(program.waitForFinished(10000));
    QCOMPARE(program.exitCode(), 0);
    QVERIFY(program.readAllStandardOutput().contains("tarnwick: link"));
}

void AppPlatformTest::programForwardsCallbackToRunningInstance()
{
    QTemporaryDir folder;
    const QString opened = folder.filePath(QStringLiteral("opened"));
    const QString browser = folder.filePath(QStringLiteral("browser"));
    QVERIFY(writeScript(browser, "printf '%s\\n' \"$1\" >> '" + opened.toUtf8() + "'\n"));
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("BROWSER"), browser);

    QProcess first;
    first.setProcessEnvironment(environment);
    first.start(QStringLiteral(APP_PROGRAM), {});
    QVERIFY(first.waitForStarted());
    // The window opens the sign-in by itself on a first launch.
    QTRY_VERIFY_WITH_TIMEOUT(readAll(opened).contains("/connect/mac/"), 15000);

    QProcess second;
    second.setProcessEnvironment(environment);
    second.start(QStringLiteral(APP_PROGRAM), {QStringLiteral("tarnwick://auth/callback?state=wrong&code=x")});
    QVERIFY(second.waitForFinished(10000));
    QCOMPARE(second.exitStatus(), QProcess::NormalExit);
    QCOMPARE(second.exitCode(), 0);
    QCOMPARE(first.state(), QProcess::Running);

    first.terminate();
    QVERIFY(first.waitForFinished(10000));
}

QTEST_MAIN(AppPlatformTest)
#include "tst_appplatform.moc"
