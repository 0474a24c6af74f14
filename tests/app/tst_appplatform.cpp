#include "model/SignInError.h"
#include "platform/AutostartEntry.h"
#include "platform/SingleInstance.h"
#include "platform/SystemBrowserSignIn.h"
#include "platform/SystemFolderChooser.h"
#include "platform/SystemLoginItemManager.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileDialog>
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

QCoro::Task<> askFolders(FolderChoosing *chooser, std::optional<std::optional<QList<QUrl>>> *answer)
{
    *answer = co_await chooser->chooseFolders(u"Choose folders Tarnwick may use"_s,
                                             u"Allow folders"_s);
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
    void registeringLeavesTheEntryAlone_data();
    void registeringLeavesTheEntryAlone();

    void staleSocketIsReplaced();
    void browserSignInTakesOnlyItsCallback();
    void folderDialogAsksForSeveralFolders();
};

void AppPlatformTest::execArgumentsAreQuoted_data()
{
    QTest::addColumn<QString>("argument");
    QTest::addColumn<QString>("quoted");
    QTest::newRow("plain") << u"/opt/tarnwick/TarnwickHelper"_s << u"/opt/tarnwick/TarnwickHelper"_s;
    QTest::newRow("space") << u"/home/a b/Helper"_s << u"\"/home/a b/Helper\""_s;
    QTest::newRow("dollar and quote") << u"/x/$y\"z"_s << u"\"/x/\\\\$y\\\\\"z\""_s;
    QTest::newRow("percent") << u"/x/100%"_s << u"/x/100%%"_s;
    QTest::newRow("backslash") << u"/x\\y"_s << u"\"/x\\\\\\\\y\""_s;
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
    QTest::newRow("as written") << AutostartEntry::contents(u"/x/helper"_s) << false;
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

void AppPlatformTest::registeringLeavesTheEntryAlone_data()
{
    QTest::addColumn<bool>("helperInstalled");
    QTest::addColumn<QByteArray>("entry");
    QTest::addColumn<LoginItemState>("state");
    QTest::newRow("switched off by the user")
        << true << QByteArray("[Desktop Entry]\nType=Application\nExec=/somewhere/else\nHidden=true\n")
        << LoginItemState::requiresApproval;
    QTest::newRow("helper missing") << false << QByteArray() << LoginItemState::notFound;
}

void AppPlatformTest::registeringLeavesTheEntryAlone()
{
    QFETCH(bool, helperInstalled);
    QFETCH(QByteArray, entry);
    QFETCH(LoginItemState, state);
    QTemporaryDir folder;
    const QString helper = folder.filePath(u"helper"_s);
    const QString entryPath = folder.filePath(u"autostart/com.tarnwick.mac.helper.desktop"_s);
    if (helperInstalled)
        QVERIFY(writeScript(helper, "exit 0\n"));
    if (!entry.isEmpty())
        QVERIFY(writeFile(entryPath, entry));

    SystemLoginItemManager manager({helper, entryPath}, {});
    QCOMPARE(manager.state(), state);
    QVERIFY(manager.registerItem());
    QCOMPARE(readAll(entryPath), entry);
    QCOMPARE(QFile::exists(entryPath), !entry.isEmpty());
    QCOMPARE(manager.state(), state);
}

// A socket left behind by a crashed instance must not keep the program from starting.
void AppPlatformTest::staleSocketIsReplaced()
{
    QTemporaryDir folder;
    const QString socket = folder.filePath(u"app.socket"_s);
    QVERIFY(writeFile(socket, {}));
    SingleInstance instance(socket);
    QVERIFY(!instance.forward(QString()));
    QVERIFY(instance.listen());
}

void AppPlatformTest::browserSignInTakesOnlyItsCallback()
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
    QVERIFY(signIn.start(page, u"tarnwick"_s, record));
    QVERIFY(signIn.isOpen());
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

    // A browser that cannot start leaves nothing open and calls nothing back.
    outcome.reset();
    qputenv("BROWSER", "/not/there/at/all");
    QVERIFY(!signIn.start(page, u"tarnwick"_s, record));
    QVERIFY(!signIn.isOpen());
    signIn.cancel();
    QVERIFY(!outcome);
    qunsetenv("BROWSER");
}

void AppPlatformTest::folderDialogAsksForSeveralFolders()
{
    // No desktop portal runs on the test's private bus, so the Qt dialog stands in.
    SystemFolderChooser chooser;
    std::optional<std::optional<QList<QUrl>>> answer;
    askFolders(&chooser, &answer);
    QFileDialog *dialog = nullptr;
    QTRY_VERIFY((dialog = qobject_cast<QFileDialog *>(QApplication::activeModalWidget())));
    QCOMPARE(dialog->windowTitle(), u"Choose folders Tarnwick may use"_s);
    QCOMPARE(dialog->fileMode(), QFileDialog::Directory);
    QVERIFY(dialog->testOption(QFileDialog::ShowDirsOnly));
    QCOMPARE(dialog->labelText(QFileDialog::Accept), u"Allow folders"_s);
    const QList<QAbstractItemView *> views = dialog->findChildren<QAbstractItemView *>(u"listView"_s);
    QVERIFY(!views.isEmpty());
    QCOMPARE(views.first()->selectionMode(), QAbstractItemView::ExtendedSelection);
    dialog->reject();
    QTRY_VERIFY(answer.has_value());
    QVERIFY(!answer->has_value());
}

QTEST_MAIN(AppPlatformTest)
#include "tst_appplatform.moc"
