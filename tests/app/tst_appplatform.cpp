#include "model/SignInError.h"
#include "platform/AutostartEntry.h"
#include "platform/SingleInstance.h"
#include "platform/SystemBrowserSignIn.h"
#include "platform/SystemLoginItemManager.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}
bool writeFile(const QString &path, const QByteArray &body, QFile::Permissions permissions = QFile::ReadOwner | QFile::WriteOwner)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(body) == body.size() && file.setPermissions(permissions);
}
bool writeScript(const QString &path, const QByteArray &body)
{
    return writeFile(path, "#!/bin/sh\n" + body, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

} // namespace

class AppPlatformTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void execArgumentsAreQuoted_data()
    {
        QTest::addColumn<QString>("argument");
        QTest::addColumn<QString>("quoted");
        QTest::newRow("plain") << u"/opt/tarnwick/TarnwickHelper"_s << u"/opt/tarnwick/TarnwickHelper"_s;
        QTest::newRow("space") << u"/home/a b/Helper"_s << u"\"/home/a b/Helper\""_s;
        QTest::newRow("dollar and quote") << u"/x/$y\"z"_s << u"\"/x/\\\\$y\\\\\"z\""_s;
        QTest::newRow("percent") << u"/x/100%"_s << u"/x/100%%"_s;
        QTest::newRow("backslash") << u"/x\\y"_s << u"\"/x\\\\\\\\y\""_s;
    }
    void execArgumentsAreQuoted()
    {
        QFETCH(QString, argument);
        QFETCH(QString, quoted);
        QCOMPARE(AutostartEntry::quotedExecArgument(argument), quoted);
    }
    void switchedOffEntries_data()
    {
        QTest::addColumn<QByteArray>("entry");
        QTest::addColumn<bool>("switchedOff");
        const QByteArray head = "[Desktop Entry]\nType=Application\nExec=helper\n";
        QTest::newRow("as written") << AutostartEntry::contents(u"/x/helper"_s) << false;
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
        QTemporaryDir folder;
        const QString helper = folder.filePath(u"helper"_s);
        const QString entryPath = folder.filePath(u"autostart/com.tarnwick.mac.helper.desktop"_s);
        QVERIFY(!helperInstalled || writeScript(helper, "exit 0\n"));
        QVERIFY(entry.isEmpty() || writeFile(entryPath, entry));
        SystemLoginItemManager manager({helper, entryPath}, {});
        QCOMPARE(manager.state(), state);
        QVERIFY(manager.registerItem());
        QCOMPARE(readAll(entryPath), entry);
        QCOMPARE(QFile::exists(entryPath), !entry.isEmpty());
        QCOMPARE(manager.state(), state);
    }
    // A socket left behind by a crashed instance must not keep the program from starting.
    void staleSocketIsReplaced()
    {
        QTemporaryDir folder;
        const QString socket = folder.filePath(u"app.socket"_s);
        QVERIFY(writeFile(socket, {}));
        SingleInstance instance(socket);
        QVERIFY(!instance.forward(QString()));
        QVERIFY(instance.listen());
    }
    void browserSignInTakesOnlyItsCallback()
    {
        QTemporaryDir folder;
        const QString opened = folder.filePath(u"opened"_s);
        const QString browser = folder.filePath(u"browser"_s);
        QVERIFY(writeScript(browser, "printf '%s' \"$1\" > '" + opened.toUtf8() + "'\n"));
        qputenv("BROWSER", QFile::encodeName(browser) + " %s:/not/there");
        SystemBrowserSignIn signIn;
        std::optional<Result<QUrl>> outcome;
        const auto record = [&](Result<QUrl> r) { outcome = r; };
        const QUrl page(u"http://127.0.0.1:8787/connect/mac/10?deviceName=A%20B&state=s"_s);
        const QUrl callback(u"tarnwick://auth/callback?state=s&code=c"_s);
        QVERIFY(signIn.start(page, u"tarnwick"_s, record) && signIn.isOpen());
        QTRY_COMPARE(readAll(opened), page.toEncoded());
        QVERIFY(!signIn.acceptCallback(QUrl(u"https://auth/callback"_s)));
        QVERIFY(!outcome);
        QVERIFY(signIn.acceptCallback(callback));
        QCOMPARE(outcome->value_or(QUrl()), callback);
        QVERIFY(!signIn.isOpen());
        // With no sign-in open a forwarded URL is not taken.
        QVERIFY(!signIn.acceptCallback(callback));
        outcome.reset();
        QVERIFY(signIn.start(page, u"tarnwick"_s, record));
        signIn.cancel();
        QVERIFY(outcome && !*outcome && SignInError::isCanceledLogin(outcome->error()));
        qunsetenv("BROWSER");
    }
};

QTEST_MAIN(AppPlatformTest)
#include "tst_appplatform.moc"
