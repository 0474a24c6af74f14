// The setup application's desktop adapters against real files, child processes and sockets.

#include "TestFiles.h"

#include "common/DesktopExecArgument.h"
#include "model/SignInError.h"
#include "platform/AutostartEntry.h"
#include "platform/InstanceMessage.h"
#include "platform/SingleInstance.h"
#include "platform/SystemBrowserSignIn.h"
#include "platform/SystemLoginItemManager.h"
#include "platform/WindowActivation.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <future>

class TestAppPlatform : public QObject
{
    Q_OBJECT

    std::optional<QTemporaryDir> m_folder;
    QString path(const QString &name) const { return m_folder->filePath(name); }
    // A browser that writes the page it is given to path("opened").
    QString browserScript() const
    {
        const QString script = path(QStringLiteral("browser"));
        const QByteArray body = "printf '%s' \"$1\" > '" + QFile::encodeName(path(QStringLiteral("opened"))) + "'";
        return TestFiles::writeScript(script, body) ? script : QString();
    }

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
    void switchedOffEntries_data()
    {
        QTest::addColumn<QByteArray>("entry");
        QTest::addColumn<bool>("switchedOff");
        const QByteArray head = "[Desktop Entry]\nType=Application\nExec=helper\n";
        QTest::newRow("as written") << AutostartEntry::contents(QStringLiteral("/x/helper")) << false;
        QTest::newRow("hidden") << head + "Hidden=true\n" << true;
        QTest::newRow("gnome off") << head + "X-GNOME-Autostart-enabled=false\n" << true;
        QTest::newRow("kde off") << head + "X-KDE-autostart-enabled=false\n" << true;
        QTest::newRow("other group") << head + "[Desktop Action x]\nHidden=true\n" << false;
    }
    void switchedOffEntries()
    {
        QFETCH(QByteArray, entry);
        QFETCH(bool, switchedOff);
        QCOMPARE(AutostartEntry::isSwitchedOff(entry), switchedOff);
    }
    void registeringLeavesTheEntryAlone_data()
    {
        QTest::addColumn<bool>("helperInstalled");
        QTest::addColumn<QByteArray>("entry");
        QTest::addColumn<LoginItemState>("state");
        QTest::newRow("switched off by the user")
            << true << QByteArray("[Desktop Entry]\nType=Application\nExec=/somewhere/else\nHidden=true\n")
            << LoginItemState::requiresApproval;
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
    // A socket left behind by a crashed instance must not keep the program from starting.
    void staleSocketIsReplaced()
    {
        const QString socket = path(QStringLiteral("app.socket"));
        QVERIFY(TestFiles::write(socket, {}));
        SingleInstance instance(socket);
        QVERIFY(!instance.forward(QString()));
        QVERIFY(instance.listen());
    }
    // The launcher's exit status counts: when no program takes the page the sign-in is told, and it
    // keeps waiting for the callback; a report about an attempt that has ended is dropped.
    void browserLaunchOutcomes_data()
    {
        QTest::addColumn<QByteArray>("browser"); // $BROWSER; OPENS: a script that takes the page; empty: unset
        QTest::addColumn<QString>("failure");    // part of the report's text; empty: no report
        QTest::newRow("opens") << QByteArray("OPENS %s") << QString();
        QTest::newRow("the first fails, the next opens") << QByteArray("false:/not/there:OPENS") << QString();
        QTest::newRow("exits with a failure") << QByteArray("false") << QStringLiteral("false exited with status 1");
        QTest::newRow("cannot start") << QByteArray("/not/there")
                                      << QStringLiteral("No browser could be opened: /not/there was not found");
        QTest::newRow("names no command") << QByteArray(":") << QStringLiteral("$BROWSER names no command");
        QTest::newRow("no $BROWSER, no handler") << QByteArray() << QStringLiteral("xdg-open exited with status");
    }
    void browserLaunchOutcomes()
    {
        QFETCH(QByteArray, browser);
        QFETCH(QString, failure);
        if (!browser.isEmpty())
            qputenv("BROWSER", browser.replace("OPENS", QFile::encodeName(browserScript())));
        SystemBrowserSignIn signIn;
        QStringList reports;
        const QUrl page(QStringLiteral("http://127.0.0.1:8787/connect/mac/10?state=s"));
        QVERIFY(signIn.start(
            page, QStringLiteral("tarnwick"), [](Result<QUrl>) {},
            [&](const Error &e) { reports.append(e.description); }));
        if (failure.isEmpty()) {
            QTRY_COMPARE(TestFiles::read(path(QStringLiteral("opened"))), page.toEncoded());
            QTest::qWait(200);
            QVERIFY(reports.isEmpty());
        } else {
            QTRY_COMPARE_WITH_TIMEOUT(reports.size(), 1, 10000);
            QVERIFY2(reports.first().contains(failure), qPrintable(reports.first()));
            QVERIFY(signIn.isOpen());
            // Once the attempt has ended, its browser's report is dropped.
            signIn.cancel();
            QVERIFY(signIn.start(
                page, QStringLiteral("tarnwick"), [](Result<QUrl>) {},
                [&](const Error &e) { reports.append(e.description); }));
            signIn.cancel();
            QTest::qWait(300);
            QCOMPARE(reports.size(), 1);
        }
    }
    // A second start hands the running window its URL and its launcher's activation token.
    void secondStartForwardsItsActivationToken()
    {
        SingleInstance running(path(QStringLiteral("app.socket")));
        QVERIFY(running.listen());
        QSignalSpy received(&running, &SingleInstance::messageReceived);
        qputenv("XDG_ACTIVATION_TOKEN", "wayland-token");
        qputenv("DESKTOP_STARTUP_ID", "launcher-4711_TIME123456");
        const InstanceMessage sent =
            InstanceMessage::fromEnvironment(QStringLiteral("tarnwick://auth/callback?state=s&code=c"));
        qunsetenv("XDG_ACTIVATION_TOKEN");
        qunsetenv("DESKTOP_STARTUP_ID");
        QCOMPARE(sent, (InstanceMessage{QStringLiteral("tarnwick://auth/callback?state=s&code=c"), "wayland-token",
                                        "launcher-4711_TIME123456"}));
        auto forwarded = std::async(std::launch::async, [&] {
            return SingleInstance(path(QStringLiteral("app.socket"))).forward(sent.encoded());
        });
        QVERIFY(received.wait());
        QVERIFY(forwarded.get());
        QCOMPARE(InstanceMessage::decoded(received.first().first().toString()), sent);
        QCOMPARE(InstanceMessage::decoded(QStringLiteral("not json")), InstanceMessage{});
    }
    void startupTime_data()
    {
        QTest::addColumn<QByteArray>("startupId");
        QTest::addColumn<std::optional<quint32>>("time");
        using Time = std::optional<quint32>;
        QTest::newRow("launcher's id") << QByteArray("gnome-shell-1234-host-xdg-open-1_TIME98765") << Time(98765);
        QTest::newRow("no time") << QByteArray("kde-launch-17") << Time();
        QTest::newRow("empty time") << QByteArray("x_TIME") << Time();
        QTest::newRow("beyond 32 bits") << QByteArray("x_TIME4294967296") << Time();
    }
    void startupTime()
    {
        QFETCH(QByteArray, startupId);
        QFETCH(std::optional<quint32>, time);
        QCOMPARE(WindowActivation::startupTime(startupId), time);
    }
    void browserSignInTakesOnlyItsCallback()
    {
        qputenv("BROWSER", QFile::encodeName(browserScript()) + " %s:/not/there");
        SystemBrowserSignIn signIn;
        std::optional<Result<QUrl>> outcome;
        const auto record = [&](Result<QUrl> r) { outcome = r; };
        const auto noReport = [](const Error &) { QFAIL("the page was opened"); };
        const QUrl page(QStringLiteral("http://127.0.0.1:8787/connect/mac/10?deviceName=A%20B&state=s"));
        const QUrl callback(QStringLiteral("tarnwick://auth/callback?state=s&code=c"));
        QVERIFY(signIn.start(page, QStringLiteral("tarnwick"), record, noReport) && signIn.isOpen());
        QTRY_COMPARE(TestFiles::read(path(QStringLiteral("opened"))), page.toEncoded());
        QVERIFY(!signIn.acceptCallback(QUrl(QStringLiteral("https://auth/callback"))));
        QVERIFY(!outcome);
        QVERIFY(signIn.acceptCallback(callback));
        QCOMPARE(outcome->value_or(QUrl()), callback);
        QVERIFY(!signIn.isOpen());
        // With no sign-in open a forwarded URL is not taken.
        QVERIFY(!signIn.acceptCallback(callback));
        outcome.reset();
        QVERIFY(signIn.start(page, QStringLiteral("tarnwick"), record, noReport));
        signIn.cancel();
        QVERIFY(outcome && !*outcome && SignInError::isCanceledLogin(outcome->error()));
    }
};

QTEST_MAIN(TestAppPlatform)
#include "tst_appplatform.moc"
