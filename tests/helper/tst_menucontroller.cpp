#include "HelperFixture.h"
#include "ScriptedServer.h"
#include "StandInNotificationServer.h"
#include "TestFiles.h"

#include "HelperApplication.h"
#include "MenuController.h"
#include "common/ProductionBaseURL.h"
#include "config/AppPaths.h"
#include "status/StatusStore.h"

#include <QAction>
#include <QMenu>
#include <QSignalSpy>
#include <QTest>

using State = HelperStatus::State;

constexpr int patience = HelperFixture::patience;

namespace {

const QString activityPath = QStringLiteral("/api/devices/me/activity");
const QString taskA = QStringLiteral("6a1f0c3e-2b7d-4e59-9c1a-0d8e7f6a5b41");
const QString refreshFailed = QStringLiteral("Couldn’t refresh activity");

// A running task and five recent ones, of which the menu shows the first three.
QByteArray activityJson()
{
    QStringList recent;
    for (int i = 1; i <= 5; ++i)
        recent << QStringLiteral(R"({"taskId":"00000000-0000-4000-8000-00000000000%1","label":"Task %1",)"
                                 R"("status":"done","completedAt":"x"})")
                      .arg(i);
    return QStringLiteral(R"({"running":{"taskId":"%1","label":"Fix & ship","provider":"codex","startedAt":"x"},)"
                          R"("recent":[%2]})")
        .arg(taskA, recent.join(u','))
        .toUtf8();
}
const QString fixAndShip = QStringLiteral("Fix && ship");
const QStringList shownTasks{QStringLiteral("Task 1 — done"), QStringLiteral("Task 2 — done"),
                             QStringLiteral("Task 3 — done")};

// The lines of the tray's menu as Qt shows them ("&&" is a plain "&"), "---" for a separator.
QStringList shown(const MenuController &controller)
{
    QStringList lines;
    for (const QAction *action : controller.menu()->actions())
        lines.append(action->isSeparator() ? QStringLiteral("---") : action->text());
    return lines;
}

// The whole menu's lines.
QStringList menuLines(const QString &title, const QString &running = QStringLiteral("Nothing running"),
                      const QStringList &recent = {QStringLiteral("Nothing recent")}, bool failed = false)
{
    return QStringList{title,   QStringLiteral("---"), QStringLiteral("Running"),
                       running, QStringLiteral("---"), QStringLiteral("Recent")}
           + recent + (failed ? QStringList{refreshFailed} : QStringList())
           + QStringList{QStringLiteral("---"), QStringLiteral("Open Tarnwick…"), QStringLiteral("View All Tasks"),
                         QStringLiteral("---"), QStringLiteral("Quit Tarnwick")};
}

HelperStatus statusNow(State state, const std::optional<QString> &error = std::nullopt)
{
    return HelperStatus(state, QDateTime::currentDateTimeUtc(), error);
}

// Chooses the menu's line with that text; a disabled line ignores it.
void choose(const MenuController &controller, const QString &text)
{
    const qsizetype line = shown(controller).indexOf(text);
    QVERIFY(line >= 0);
    controller.menu()->actions().at(line)->trigger();
}

// Opens the menu and waits for its fetch to end.
void openMenu(MenuController &controller)
{
    QSignalSpy refreshed(&controller, &MenuController::activityRefreshed);
    controller.aboutToShow();
    QVERIFY(refreshed.count() == 1 || refreshed.wait(10000));
}

} // namespace

class TestMenuController : public QObject
{
    Q_OBJECT

    QTemporaryDir m_opened;
    std::optional<HelperFixture> m_fixture;

    QString openedUrl() const
    {
        return QString::fromUtf8(TestFiles::read(m_opened.filePath(QStringLiteral("url")))).trimmed();
    }

private Q_SLOTS:
    void initTestCase()
    {
        // The browser is faked at the one place a URL leaves the helper: $BROWSER.
        const QString browser = m_opened.filePath(QStringLiteral("browser"));
        QVERIFY(TestFiles::writeScript(browser,
                                       "echo \"$1\" > " + QFile::encodeName(m_opened.filePath(QStringLiteral("url")))));
        qputenv("BROWSER", QFile::encodeName(browser));
    }

    void init() { m_fixture.emplace(HelperFixture::Credential::inMemory); }

    // The status file is read at construction, the activity fetched when the menu opens: of two quick opens
    // only the latest applies, the first timing out later changes nothing. Three recent tasks at most, in the
    // service's order, shown as they are ("&" is no mnemonic); choosing a task opens its page on the
    // dashboard (a disabled line would ignore it). A rejected credential then needs
    // attention, and the tasks last fetched stay until a later success replaces them, even with none.
    // The desktop is told once per change into needing attention, and the notice is taken back once ready;
    // choosing it opens the setup window with the token that lets it come to the front.
    void showsTheStatusTheActivityAndNotices()
    {
        StandInNotificationServer notifications;
        ScriptedServer server;
        server.hang(activityPath);
        QVERIFY(HelperFixture::writeConfig(server.url().toString()));
        QCOMPARE(shown(MenuController(m_fixture->parts())), menuLines(QStringLiteral("Starting runner…")));

        QVERIFY(StatusStore(AppPaths::status()).save(statusNow(State::connected)));
        MenuController controller(m_fixture->parts());
        QSignalSpy refreshed(&controller, &MenuController::activityRefreshed);
        controller.aboutToShow();
        QTRY_COMPARE(server.requests().size(), 1);
        server.answer(activityPath, 200, activityJson());
        controller.aboutToShow();
        QVERIFY(refreshed.wait(10000));
        QTest::qWait(1500);
        QCOMPARE(refreshed.count(), 1);
        QCOMPARE(shown(controller), menuLines(QStringLiteral("Ready for tasks"), fixAndShip, shownTasks));
        QCOMPARE(server.requests().last().header("Authorization"), "Bearer " + HelperFixture::credential().toUtf8());
        choose(controller, fixAndShip);
        QTRY_COMPARE(openedUrl(), server.url().toString() + QStringLiteral("?task=") + taskA.toUpper());

        server.answer(activityPath, 401, R"({"error":"Unknown credential."})");
        openMenu(controller);
        QCOMPARE(shown(controller), menuLines(QStringLiteral("Needs attention"), fixAndShip, shownTasks, true));
        openMenu(controller);
        QTRY_COMPARE(notifications.notices.size(), 1);
        const StandInNotificationServer::Notice notice = notifications.notices.first();
        QCOMPARE(
            QStringList({notice.appName, notice.summary, notice.body,
                         notice.hints.value(QStringLiteral("desktop-entry")).toString()})
                + notice.actions,
            QStringList({QStringLiteral("Tarnwick"), QStringLiteral("Needs attention"),
                         QStringLiteral("This Mac is disconnected. Open Tarnwick to reconnect."),
                         QStringLiteral("tarnwick"), QStringLiteral("default"), QStringLiteral("Open Tarnwick…")}));

        server.answer(activityPath, 200, R"({"recent":[]})");
        openMenu(controller);
        QTRY_COMPARE(notifications.closed, QList<uint>{1});
        QCOMPARE(shown(controller), menuLines(QStringLiteral("Ready for tasks")));

        // The setup application records the activation token it was started with.
        const QString opened = m_opened.filePath(QStringLiteral("setup"));
        QVERIFY(TestFiles::writeScript(m_fixture->setupAppPath(), "echo \"$XDG_ACTIVATION_TOKEN$DESKTOP_STARTUP_ID\" > "
                                                                      + QFile::encodeName(opened)));
        const QString crashed = QStringLiteral("The runner stopped unexpectedly. Restarting shortly.");
        for (const State state : {State::needsAttention, State::starting, State::needsAttention})
            controller.update(statusNow(state, state == State::needsAttention ? std::optional(crashed) : std::nullopt));
        QTRY_COMPARE(notifications.notices.size(), 2);
        QCOMPARE(notifications.notices.last().body, crashed);
        notifications.choose(2, QStringLiteral("token-2"));
        QTRY_COMPARE(TestFiles::read(opened), QByteArray("token-2\n"));
        QCOMPARE(notifications.notices.size(), 2);
    }

    // Without a configuration there is no service address of this setup: the dashboard is the production
    // one, and the activity cannot be asked for.
    void withoutAConfiguration()
    {
        QVERIFY(QFile::remove(AppPaths::config()));
        HelperParts parts = m_fixture->parts();
        int clients = 0;
        parts.apiClient = [&clients](const QUrl &baseURL) {
            ++clients;
            return DeviceAPIClient(baseURL);
        };
        MenuController controller(parts);
        openMenu(controller);
        QVERIFY(shown(controller).contains(refreshFailed));
        QCOMPARE(clients, 0);
        choose(controller, QStringLiteral("View All Tasks"));
        QTRY_COMPARE(openedUrl(), productionBaseURL().toString());
        const QSignalSpy quit(&controller, &MenuController::quitChosen);
        choose(controller, QStringLiteral("Quit Tarnwick"));
        QCOMPARE(quit.count(), 1);
    }

    // Quit chosen twice stops the runner once; a termination request meanwhile waits for that stop.
    void quitStopsTheRunnerOnce()
    {
        HelperApplication helper(m_fixture->parts());
        QSignalSpy confirmed(&helper, &HelperApplication::terminationConfirmed);
        helper.requestTermination();
        QCOMPARE(confirmed.count(), 1);
        helper.start();
        QTRY_VERIFY_WITH_TIMEOUT(savedStatus() && savedStatus()->state() == State::connected, patience);
        const qint64 runner = runnerLaunches().first();

        helper.quit();
        helper.quit();
        helper.requestTermination();
        QVERIFY(confirmed.wait(patience));
        QVERIFY(hasEnded(runner));
        QCOMPARE(savedStatus()->state(), State::stopped);
        QTest::qWait(400);
        QCOMPARE(confirmed.count(), 2);
        helper.requestTermination();
        QCOMPARE(confirmed.count(), 3);
        QCOMPARE(runnerLaunches().size(), 1);
    }
};

QTEST_MAIN(TestMenuController)
#include "tst_menucontroller.moc"
