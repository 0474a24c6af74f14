#include "WindowTestSupport.h"

#include <QApplication>
#include <QDir>
#include <QTest>

#include <dlfcn.h>

using namespace Qt::StringLiterals;

using Situation = WindowHarness::Situation;
using Expected = QVariantMap;

namespace {

// What the ready screen shows in every situation, plus what differs.
Expected readyScreen(const QString &title, const QString &detail, bool tasksEnabled, Expected more = {})
{
    more.insert({{u"readyScreen:visible"_s, true},
                 {u"statusTitle"_s, title},
                 {u"statusDetail"_s, detail},
                 {u"viewAllTasksButton:enabled"_s, tasksEnabled},
                 {u"logOutButton:enabled"_s, true},
                 {u"errorLine:visible"_s, false}});
    for (const char *name : {"phoneNumber", "offlineSymbol", "enableLoginItemsButton"})
        more.insert(QLatin1String(name) + u":visible"_s, more.value(QLatin1String(name) + u":visible"_s, false));
    return more;
}

} // namespace

// Every screen under a real X server (so drop shadows render); with TARNWICK_SCREENSHOT_DIR set, each is
// kept there as a PNG.
class AppViewsTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void screen_data();
    void screen();
    void signInOpensOnceAndCancels();
    void readyScreenButtons();
};

// Keys are object names; "name" compares the item's text (empty when hidden), "name:property" a property,
// "name:click" what clicking it asks of the desktop.
void AppViewsTest::screen_data()
{
    QTest::addColumn<Situation>("situation");
    QTest::addColumn<Expected>("expected");
    const QString unavailable = u"Claude Code unavailable"_s;
    QTest::newRow("connect-signing-in") << Situation::firstLaunch
        << Expected{{u"openingSignIn:visible"_s, true}, {u"signInButton:visible"_s, false},
                    {u"cancelSignInButton:visible"_s, true}};
    QTest::newRow("connect-error") << Situation::signInError
        << Expected{{u"connectScreen:visible"_s, true},
                    {u"errorLine"_s, u"The connection response did not match this Mac."_s}};
    QTest::newRow("providers-checking") << Situation::checkingProviders
        << Expected{{u"providersScreen:visible"_s, true}, {u"checkAgainButton:enabled"_s, false}};
    QTest::newRow("providers-ready") << Situation::providersReady
        << Expected{{u"providersScreen:visible"_s, true}, {u"checkingTools:visible"_s, false},
                    {u"codexLabel"_s, u"Codex"_s}, {u"claudeCodeLabel"_s, unavailable},
                    {u"continueButton:enabled"_s, true}, {u"checkAgainButton:enabled"_s, true},
                    {u"errorLine"_s, QString()}};
    QTest::newRow("providers-missing") << Situation::providersMissing
        << Expected{{u"codexLabel"_s, u"Codex unavailable"_s},
                    {u"claudeCodeLabel"_s, unavailable}, {u"continueButton:enabled"_s, false},
                    {u"checkAgainButton:enabled"_s, true},
                    {u"errorLine"_s, u"Verify Codex or Claude Code to continue."_s}};
    const auto folders = [](const QString &header) {
        return Expected{{u"foldersScreen:visible"_s, true},
                        {u"finishSetupButton:enabled"_s, !header.isEmpty()},
                        {u"chooseFoldersButton:visible"_s, header.isEmpty()},
                        {u"folderBox:visible"_s, !header.isEmpty()},
                        {u"folderBoxHeader"_s, header}};
    };
    QTest::newRow("folders-empty") << Situation::noFolders << folders(QString());
    QTest::newRow("folders-one") << Situation::oneFolder << folders(u"SELECTED FOLDER"_s);
    QTest::newRow("folders-two") << Situation::twoFolders << folders(u"SELECTED FOLDERS"_s);
    QTest::newRow("ready-checking-connection") << Situation::checkingConnection
        << readyScreen(u"Checking connection…"_s, u"Checking whether this Mac can take calls."_s, true);
    QTest::newRow("ready-offline") << Situation::offline
        << readyScreen(u"Offline"_s, u"Connect to the internet to take calls."_s, false,
                       {{u"offlineSymbol:visible"_s, true}});
    QTest::newRow("ready-for-calls") << Situation::readyForCalls
        << readyScreen(u"Ready for calls"_s, QString(), true,
                       {{u"phoneNumber:visible"_s, true},
                        {u"phoneNumber"_s, u"+1 (555) 010-0199"_s},
                        {u"folderSummary"_s, u"Folders: work, site"_s},
                        {u"viewAllTasksButton:click"_s, u"dashboard"_s}});
    QTest::newRow("ready-getting-ready") << Situation::gettingReady
        << readyScreen(u"Getting ready…"_s, u"Available in a moment."_s, true);
    // The model's message is not shown on the ready screen.
    QTest::newRow("ready-could-not-start") << Situation::couldNotStart
        << readyScreen(u"Couldn't start"_s, u"Quit and reopen Tarnwick."_s, true);
    QTest::newRow("ready-needs-approval") << Situation::needsApproval
        << readyScreen(u"Ready for calls"_s, QString(), true,
                       {{u"phoneNumber:visible"_s, true},
                        {u"enableLoginItemsButton:visible"_s, true},
                        {u"enableLoginItemsButton:click"_s, u"loginItems"_s}});
}

void AppViewsTest::screen()
{
    QFETCH(Situation, situation);
    QFETCH(Expected, expected);
    WindowHarness harness(situation);
    QQuickWindow *window = harness.window();
    QVERIFY(window);
    QCOMPARE(window->title(), u"Tarnwick"_s);
    QCOMPARE(window->minimumWidth(), 440);
    QCOMPARE(window->maximumWidth(), 440);
    QVERIFY(harness.item(u"brandRow"_s));
    for (auto it = expected.cbegin(); it != expected.cend(); ++it) {
        const QStringList key = it.key().split(u':');
        QQuickItem *item = harness.item(key.first());
        if (key.value(1) == "click"_L1) {
            harness.click(key.first());
            QCOMPARE(harness.desktop().calls, QStringList{it->toString()});
        } else if (key.value(1) == "visible"_L1) {
            QVERIFY2(bool(item) == it->toBool(), qPrintable(it.key()));
        } else {
            QVERIFY2(item || key.size() == 1, qPrintable(it.key()));
            const QVariant actual = item ? item->property(qPrintable(key.value(1, u"text"_s))) : QString();
            QVERIFY2(actual == *it, qPrintable(it.key() + u": "_s + actual.toString()));
        }
    }
    if (situation == Situation::oneFolder) {
        const QVariantMap row = harness.model().property("folderRows").toList().first().toMap();
        QCOMPARE(row.value(u"name"_s).toString(), u"tarnwick"_s);
        QCOMPARE(row.value(u"displayPath"_s).toString(), u"~/Projects/tarnwick"_s);
    }

    const QImage shot = window->grabWindow();
    QCOMPARE(shot.width(), int(440 * window->devicePixelRatio()));
    const QString folder = qEnvironmentVariable("TARNWICK_SCREENSHOT_DIR");
    if (!folder.isEmpty())
        QVERIFY(QDir().mkpath(folder) && shot.save(folder + u'/' + QLatin1String(QTest::currentDataTag()) + u".png"_s));
}

void AppViewsTest::signInOpensOnceAndCancels()
{
    WindowHarness harness(Situation::firstLaunch);
    QCOMPARE(harness.seams().signIn->openedPages.size(), 1);
    QVERIFY(harness.model().busy());
    // Showing the window again does not open a second sign-in.
    harness.window()->hide();
    harness.window()->show();
    QVERIFY(QTest::qWaitForWindowExposed(harness.window()));
    QCOMPARE(harness.seams().signIn->openedPages.size(), 1);

    harness.click(u"cancelSignInButton"_s);
    QTRY_VERIFY(harness.item(u"signInButton"_s));
    QVERIFY(!harness.model().busy());
    QVERIFY(!harness.item(u"errorLine"_s));
    harness.click(u"signInButton"_s);
    QTRY_VERIFY(harness.item(u"openingSignIn"_s));
    QCOMPARE(harness.seams().signIn->openedPages.size(), 2);
}

void AppViewsTest::readyScreenButtons()
{
    WindowHarness harness(Situation::readyForCalls);
    harness.seams().chooser->answer = QList<QUrl>{QUrl::fromLocalFile(u"/srv/only"_s)};
    harness.click(u"changeFoldersButton"_s);
    QTRY_COMPARE(harness.item(u"folderSummary"_s)->property("text").toString(), u"Folder: only"_s);

    // After logging out the window waits for the user instead of opening a sign-in.
    harness.click(u"logOutButton"_s);
    QTRY_VERIFY_WITH_TIMEOUT(harness.item(u"connectScreen"_s), 10000);
    QTRY_VERIFY(harness.item(u"signInButton"_s));
    QVERIFY(harness.seams().signIn->openedPages.isEmpty());
}

// Mesa's software GL driver keeps a few bytes for good and is unloaded before the leak check can name
// it; kept loaded, its allocations carry its name and the suppression below applies to them alone.
extern "C" const char *__lsan_default_suppressions()
{
    return "leak:swrast_dri.so\n";
}

int main(int argc, char *argv[])
{
    dlopen("/usr/lib/x86_64-linux-gnu/dri/swrast_dri.so", RTLD_NOW | RTLD_GLOBAL | RTLD_NODELETE);
    QApplication application(argc, argv);
    AppViewsTest test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}
#include "tst_appviews.moc"
