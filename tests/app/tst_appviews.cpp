#include "WindowTestSupport.h"

#include <QSignalSpy>
#include <QTest>

using Situation = WindowHarness::Situation;

class AppViewsTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void windowTakesItsContentSize();
    void firstLaunchOpensSignInOnce();
    void cancelBringsSignInButtonBack();
    void errorLineShowsOnSetupScreens();
    void providersScreen_data();
    void providersScreen();
    void foldersScreen_data();
    void foldersScreen();
    void readyScreenStatus_data();
    void readyScreenStatus();
    void readyScreenButtons();
    void enableInLoginItemsOpensSettings();
    void noAutomaticSignInAfterLogOut();
};

void AppViewsTest::windowTakesItsContentSize()
{
    WindowHarness harness(Situation::readyForCalls);
    QQuickWindow *window = harness.window();
    QVERIFY(window);
    QCOMPARE(window->title(), QStringLiteral("Tarnwick"));
    QCOMPARE(window->width(), 440);
    QCOMPARE(window->minimumWidth(), 440);
    QCOMPARE(window->maximumWidth(), 440);
    QVERIFY(window->height() >= 300);
    QVERIFY(harness.item(QStringLiteral("brandRow")));
}

void AppViewsTest::firstLaunchOpensSignInOnce()
{
    WindowHarness harness(Situation::firstLaunch);
    QCOMPARE(harness.seams().signIn->openedPages.size(), 1);
    QVERIFY(harness.model().busy());
    QVERIFY(harness.item(QStringLiteral("openingSignIn")));
    QVERIFY(!harness.item(QStringLiteral("signInButton")));
    QVERIFY(harness.item(QStringLiteral("cancelSignInButton")));

    // Showing the window again does not open a second sign-in.
    harness.window()->hide();
    harness.window()->show();
    QVERIFY(QTest::qWaitForWindowExposed(harness.window()));
    QCOMPARE(harness.seams().signIn->openedPages.size(), 1);
}

void AppViewsTest::cancelBringsSignInButtonBack()
{
    WindowHarness harness(Situation::signInOpen);
    QQuickItem *cancel = harness.item(QStringLiteral("cancelSignInButton"));
    QVERIFY(cancel);
    harness.click(cancel);
    QTRY_VERIFY(harness.item(QStringLiteral("signInButton")));
    QVERIFY(!harness.model().busy());
    QVERIFY(!harness.item(QStringLiteral("errorLine")));

    harness.click(harness.item(QStringLiteral("signInButton")));
    QTRY_VERIFY(harness.item(QStringLiteral("openingSignIn")));
    QCOMPARE(harness.seams().signIn->openedPages.size(), 2);
}

void AppViewsTest::errorLineShowsOnSetupScreens()
{
    WindowHarness harness(Situation::signInError);
    QCOMPARE(harness.text(QStringLiteral("errorLine")), QStringLiteral("The connection response did not match this Mac."));
    QVERIFY(harness.item(QStringLiteral("connectScreen")));

    // On the ready screen the model's message is not shown.
    WindowHarness ready(Situation::couldNotStart);
    QVERIFY(ready.model().errorMessage());
    QVERIFY(ready.item(QStringLiteral("readyScreen")));
    QVERIFY(!ready.item(QStringLiteral("errorLine")));
}

void AppViewsTest::providersScreen_data()
{
    QTest::addColumn<Situation>("situation");
    QTest::addColumn<QString>("codex");
    QTest::addColumn<QString>("claudeCode");
    QTest::addColumn<bool>("continueEnabled");
    QTest::addColumn<QString>("error");
    QTest::newRow("codex ready") << Situation::providersReady << QStringLiteral("Codex")
                                 << QStringLiteral("Claude Code unavailable") << true << QString();
    QTest::newRow("nothing found") << Situation::providersMissing << QStringLiteral("Codex unavailable")
                                   << QStringLiteral("Claude Code unavailable") << false
                                   << QStringLiteral("Verify Codex or Claude Code to continue.");
}

void AppViewsTest::providersScreen()
{
    QFETCH(Situation, situation);
    QFETCH(QString, codex);
    QFETCH(QString, claudeCode);
    QFETCH(bool, continueEnabled);
    QFETCH(QString, error);
    WindowHarness harness(situation);
    QVERIFY(harness.item(QStringLiteral("providersScreen")));
    QVERIFY(!harness.item(QStringLiteral("checkingTools")));
    QCOMPARE(harness.text(QStringLiteral("codexLabel")), codex);
    QCOMPARE(harness.text(QStringLiteral("claudeCodeLabel")), claudeCode);
    QCOMPARE(harness.item(QStringLiteral("continueButton"))->isEnabled(), continueEnabled);
    QVERIFY(harness.item(QStringLiteral("checkAgainButton"))->isEnabled());
    QCOMPARE(harness.text(QStringLiteral("errorLine")), error);

    harness.click(harness.item(QStringLiteral("checkAgainButton")));
    QVERIFY(harness.model().busy());
    QVERIFY(!harness.item(QStringLiteral("checkAgainButton"))->isEnabled());
    // The earlier result stays on screen while the check runs.
    QCOMPARE(harness.text(QStringLiteral("codexLabel")), codex);
    QTRY_VERIFY(harness.item(QStringLiteral("checkAgainButton"))->isEnabled());
}

void AppViewsTest::foldersScreen_data()
{
    QTest::addColumn<Situation>("situation");
    QTest::addColumn<QString>("header");
    QTest::addColumn<bool>("finishEnabled");
    QTest::newRow("none") << Situation::noFolders << QString() << false;
    QTest::newRow("one") << Situation::oneFolder << QStringLiteral("SELECTED FOLDER") << true;
    QTest::newRow("two") << Situation::twoFolders << QStringLiteral("SELECTED FOLDERS") << true;
}

void AppViewsTest::foldersScreen()
{
    QFETCH(Situation, situation);
    QFETCH(QString, header);
    QFETCH(bool, finishEnabled);
    WindowHarness harness(situation);
    QVERIFY(harness.item(QStringLiteral("foldersScreen")));
    QCOMPARE(harness.item(QStringLiteral("finishSetupButton"))->isEnabled(), finishEnabled);
    QCOMPARE(bool(harness.item(QStringLiteral("chooseFoldersButton"))), header.isEmpty());
    QCOMPARE(bool(harness.item(QStringLiteral("folderBox"))), !header.isEmpty());
    QCOMPARE(harness.text(QStringLiteral("folderBoxHeader")), header);
    if (situation == Situation::oneFolder) {
        const QVariantMap row = harness.model().property("folderRows").toList().first().toMap();
        QCOMPARE(row.value(QStringLiteral("name")).toString(), QStringLiteral("tarnwick"));
        QCOMPARE(row.value(QStringLiteral("displayPath")).toString(), QStringLiteral("~/Projects/tarnwick"));
    }
}

void AppViewsTest::readyScreenStatus_data()
{
    QTest::addColumn<Situation>("situation");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("detail");
    QTest::addColumn<bool>("tasksEnabled");
    QTest::newRow("checking") << Situation::checkingConnection << QStringLiteral("Checking connection…")
                              << QStringLiteral("Checking whether this Mac can take calls.") << true;
    QTest::newRow("offline") << Situation::offline << QStringLiteral("Offline")
                             << QStringLiteral("Connect to the internet to take calls.") << false;
    QTest::newRow("ready") << Situation::readyForCalls << QStringLiteral("Ready for calls") << QString() << true;
    QTest::newRow("getting ready") << Situation::gettingReady << QStringLiteral("Getting ready…")
                                   << QStringLiteral("Available in a moment.") << true;
    QTest::newRow("could not start") << Situation::couldNotStart << QStringLiteral("Couldn't start")
                                     << QStringLiteral("Quit and reopen Tarnwick.") << true;
}

void AppViewsTest::readyScreenStatus()
{
    QFETCH(Situation, situation);
    QFETCH(QString, title);
    QFETCH(QString, detail);
    QFETCH(bool, tasksEnabled);
    WindowHarness harness(situation);
    QVERIFY(harness.item(QStringLiteral("readyScreen")));
    QCOMPARE(harness.text(QStringLiteral("statusTitle")), title);
    QCOMPARE(harness.text(QStringLiteral("statusDetail")), detail);
    QCOMPARE(bool(harness.item(QStringLiteral("phoneNumber"))), situation == Situation::readyForCalls);
    QCOMPARE(bool(harness.item(QStringLiteral("offlineSymbol"))), situation == Situation::offline);
    QCOMPARE(harness.item(QStringLiteral("viewAllTasksButton"))->isEnabled(), tasksEnabled);
    QVERIFY(harness.item(QStringLiteral("logOutButton"))->isEnabled());
    QVERIFY(!harness.item(QStringLiteral("errorLine")));
    QVERIFY(!harness.item(QStringLiteral("enableLoginItemsButton")));
}

void AppViewsTest::readyScreenButtons()
{
    WindowHarness harness(Situation::readyForCalls);
    QCOMPARE(harness.text(QStringLiteral("phoneNumber")), QStringLiteral("+1 (555) 010-0199"));
    QCOMPARE(harness.text(QStringLiteral("folderSummary")), QStringLiteral("Folders: work, site"));
    harness.click(harness.item(QStringLiteral("viewAllTasksButton")));
    QCOMPARE(harness.desktop().calls, QStringList{QStringLiteral("dashboard")});

    harness.seams().chooser->answer = QList<QUrl>{QUrl::fromLocalFile(QStringLiteral("/srv/only"))};
    harness.click(harness.item(QStringLiteral("changeFoldersButton")));
    QTRY_COMPARE(harness.text(QStringLiteral("folderSummary")), QStringLiteral("Folder: only"));

    harness.click(harness.item(QStringLiteral("logOutButton")));
    QTRY_VERIFY_WITH_TIMEOUT(harness.item(QStringLiteral("connectScreen")), 10000);
    QTRY_VERIFY(harness.item(QStringLiteral("signInButton")));
}

void AppViewsTest::enableInLoginItemsOpensSettings()
{
    WindowHarness harness(Situation::needsApproval);
    QCOMPARE(harness.model().machine().step, OnboardingStep::needsAttention);
    QCOMPARE(harness.text(QStringLiteral("statusTitle")), QStringLiteral("Ready for calls"));
    QVERIFY(!harness.item(QStringLiteral("errorLine")));
    QQuickItem *enable = harness.item(QStringLiteral("enableLoginItemsButton"));
    QVERIFY(enable);
    harness.click(enable);
    QCOMPARE(harness.desktop().calls, QStringList{QStringLiteral("loginItems")});
}

void AppViewsTest::noAutomaticSignInAfterLogOut()
{
    WindowHarness harness(Situation::readyForCalls);
    harness.model().logOut();
    QTRY_VERIFY_WITH_TIMEOUT(harness.item(QStringLiteral("signInButton")), 10000);
    QVERIFY(harness.seams().signIn->openedPages.isEmpty());
}

QTEST_MAIN(AppViewsTest)
#include "tst_appviews.moc"
