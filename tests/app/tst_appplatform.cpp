// The setup application's desktop adapters against real files, child processes and sockets.

#include "TestFiles.h"

#include "common/DesktopExecArgument.h"
#include "model/SignInError.h"
#include "platform/AutostartEntry.h"
#include "platform/InstanceMessage.h"
#include "platform/SingleInstance.h"
#include "platform/SystemBrowserSignIn.h"
#include "platform/SystemLoginItemManager.h"

#include <QFile>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <future>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

class TestAppPlatform : public QObject
{
    Q_OBJECT

    std::optional<QTemporaryDir> m_folder;
    QString path(const QString &name) const { return m_folder->filePath(name); }

private Q_SLOTS:
    // Without a desktop xdg-open finds no handler, as on a fresh account.
    void initTestCase() { qunsetenv("DISPLAY"), qunsetenv("WAYLAND_DISPLAY"); }
    void init() { m_folder.emplace(); }
    void cleanup() { qunsetenv("BROWSER"); }

    void execArgumentsAreQuoted_data()
    {
        QTest::addColumn<QString>("argument");
        QTest::addColumn<QString>("quoted");
        QTest::newRow("plain") << QStringLiteral("/opt/Helper") << QStringLiteral("/opt/Helper");
        QTest::newRow("space") << QStringLiteral("/home/a b/Helper") << QStringLiteral("\"/home/a b/Helper\"");
        QTest::newRow("dollar and quote") << QStringLiteral("/x/$y\"z") << QStringLiteral("\"/x/\\\\$y\\\\\"z\"");
        QTest::newRow("percent") << QStringLiteral("/x/100%") << QStringLiteral("/x/100%%");
        QTest::newRow("backslash") << QStringLiteral("/x\\y") << QStringLiteral("\"/x\\\\\\\\y\"");
    }
    void execArgumentsAreQuoted()
    {
        QFETCH(QString, argument);
        QFETCH(QString, quoted);
        QCOMPARE(quotedExecArgument(argument), quoted);
    }
    // An entry is switched off by its Hidden key or a desktop's own switch in its main group; registering
    // never rewrites what the user switched off, and writes nothing for a missing helper.
    void registeringLeavesTheEntryAlone_data()
    {
        QTest::addColumn<bool>("helperInstalled");
        QTest::addColumn<QByteArray>("entry");
        QTest::addColumn<LoginItemState>("state");
        const QByteArray head = "[Desktop Entry]\nType=Application\nExec=/somewhere/else\n";
        const LoginItemState off = LoginItemState::requiresApproval;
        QTest::newRow("as written") << true << AutostartEntry::contents(QStringLiteral("/x/helper"))
                                    << LoginItemState::enabled;
        QTest::newRow("hidden") << true << head + "Hidden=true\n" << off;
        QTest::newRow("gnome off") << true << head + "X-GNOME-Autostart-enabled=false\n" << off;
        QTest::newRow("other group") << true << head + "[Desktop Action x]\nHidden=true\n" << LoginItemState::enabled;
        QTest::newRow("helper missing") << false << QByteArray() << LoginItemState::notFound;
    }
    void registeringLeavesTheEntryAlone()
    {
        QFETCH(bool, helperInstalled);
        QFETCH(QByteArray, entry);
        QFETCH(LoginItemState, state);
        const QString helper = path(QStringLiteral("helper"));
        const QString entryPath = path(QStringLiteral("autostart/com.tarnwick.mac.helper.desktop"));
        QVERIFY(!helperInstalled || TestFiles::writeScript(helper, "exit 0"));
        QVERIFY(entry.isEmpty() || TestFiles::write(entryPath, entry));
        SystemLoginItemManager manager({helper, entryPath}, {});
        QCOMPARE(manager.state(), state);
        QVERIFY(manager.registerItem());
        QCOMPARE(TestFiles::read(entryPath), entry);
        QCOMPARE(QFile::exists(entryPath), !entry.isEmpty());
        QCOMPARE(manager.state(), state);
    }
    // Unregistering removes the entry and asks the running helper to quit; with no entry there is nothing
    // registered, and a helper started by hand is left running.
    void unregistering_data()
    {
        QTest::addColumn<bool>("registered");
        QTest::newRow("registered") << true;
        QTest::newRow("nothing registered") << false;
    }
    void unregistering()
    {
        QFETCH(bool, registered);
        const QString entryPath = path(QStringLiteral("autostart/com.tarnwick.mac.helper.desktop"));
        QVERIFY(!registered || TestFiles::write(entryPath, "[Desktop Entry]\nType=Application\nExec=helper\n"));
        QProcess helper;
        helper.start(QStringLiteral("sleep"), {QStringLiteral("30")});
        QVERIFY(helper.waitForStarted());
        SystemLoginItemManager manager({path(QStringLiteral("helper")), entryPath},
                                       [&helper] { return pid_t(helper.processId()); });
        QVERIFY(manager.unregisterItem());
        QVERIFY(!QFile::exists(entryPath));
        QCOMPARE(helper.waitForFinished(registered ? 5000 : 200), registered);
        if (!registered)
            helper.kill(), helper.waitForFinished();
    }
    // The launcher's exit status counts: when no program takes the page the sign-in is told, and it
    // keeps waiting for the callback; a report about an attempt that has ended is dropped. Only the
    // callback of the open sign-in is taken, once.
    void browserSignIn_data()
    {
        QTest::addColumn<QByteArray>("browser"); // $BROWSER; OPENS: a script that takes the page; empty: unset
        QTest::addColumn<QString>("failure");    // part of the report's text; empty: no report
        QTest::newRow("opens") << QByteArray("OPENS %s") << QString();
        QTest::newRow("the first fails, the next opens") << QByteArray("false:/not/there:OPENS") << QString();
        QTest::newRow("names no command") << QByteArray(":") << QStringLiteral("$BROWSER names no command");
        QTest::newRow("no $BROWSER, no handler") << QByteArray() << QStringLiteral("xdg-open exited with status");
    }
    void browserSignIn()
    {
        QFETCH(QByteArray, browser);
        QFETCH(QString, failure);
        const QString opens = path(QStringLiteral("browser"));
        QVERIFY(TestFiles::writeScript(opens, "printf '%s' \"$1\" > \"$0.page\""));
        if (!browser.isEmpty())
            qputenv("BROWSER", browser.replace("OPENS", QFile::encodeName(opens)));
        SystemBrowserSignIn signIn;
        QStringList reports;
        std::optional<Result<QUrl>> outcome;
        const auto start = [&] {
            return signIn.start(
                QUrl(QStringLiteral("http://127.0.0.1:8787/connect/mac/10?deviceName=A%20B&state=s")),
                QStringLiteral("tarnwick"), [&](Result<QUrl> result) { outcome = result; },
                [&](const Error &e) { reports.append(e.description); });
        };
        const QUrl callback(QStringLiteral("tarnwick://auth/callback?state=s&code=c"));
        QVERIFY(start() && signIn.isOpen());
        if (failure.isEmpty()) {
            QTRY_COMPARE(TestFiles::read(opens + QStringLiteral(".page")),
                         "http://127.0.0.1:8787/connect/mac/10?deviceName=A%20B&state=s");
            QVERIFY(!signIn.acceptCallback(QUrl(QStringLiteral("https://auth/callback"))) && !outcome);
            QVERIFY(signIn.acceptCallback(callback) && !signIn.isOpen());
            QCOMPARE(outcome->value_or(QUrl()), callback);
            QVERIFY(!signIn.acceptCallback(callback)); // no sign-in open
            QTest::qWait(200);
            QVERIFY(reports.isEmpty());
            return;
        }
        QTRY_COMPARE_WITH_TIMEOUT(reports.size(), 1, 10000);
        QVERIFY2(reports.first().contains(failure), qPrintable(reports.first()));
        QVERIFY(signIn.isOpen());
        signIn.cancel();
        QVERIFY(outcome && !*outcome && SignInError::isCanceledLogin(outcome->error()));
        // Once the attempt has ended, its browser's report is dropped.
        QVERIFY(start());
        signIn.cancel();
        QTest::qWait(300);
        QCOMPARE(reports.size(), 1);
    }
    // A socket left behind by a crashed instance does not keep the program from starting; a second start
    // hands the running window its URL and its launcher's activation token.
    void secondStartForwardsItsActivationToken()
    {
        const QString socket = path(QStringLiteral("app.socket"));
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        qstrncpy(address.sun_path, QFile::encodeName(socket).constData(), sizeof address.sun_path);
        const int crashed = ::socket(AF_UNIX, SOCK_STREAM, 0);
        QCOMPARE(::bind(crashed, reinterpret_cast<const sockaddr *>(&address), sizeof address), 0);
        ::close(crashed); // bound, never removed
        SingleInstance running(socket);
        QVERIFY(!running.forward(QString()));
        QVERIFY(running.listen());
        QSignalSpy received(&running, &SingleInstance::messageReceived);
        const InstanceMessage sent{QStringLiteral("tarnwick://auth/callback?state=s&code=c"), "wayland-token",
                                   "launcher-4711_TIME123456"};
        auto forwarded = std::async(std::launch::async, [&] { return SingleInstance(socket).forward(sent.encoded()); });
        QVERIFY(received.wait());
        QVERIFY(forwarded.get());
        QCOMPARE(InstanceMessage::decoded(received.first().first().toString()), sent);
        QCOMPARE(InstanceMessage::decoded(QStringLiteral("not json")), InstanceMessage{});
    }
};

QTEST_MAIN(TestAppPlatform)
#include "tst_appplatform.moc"
