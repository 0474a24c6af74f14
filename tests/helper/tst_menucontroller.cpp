#include "LocalServiceProcess.h"
#include "PairedSetup.h"
#include "RunnerBundle.h"
#include "ScriptedServer.h"
#include "TestKeyring.h"

#include "MenuController.h"
#include "common/ProductionBaseURL.h"
#include "config/AppPaths.h"
#include "config/FileConfigStore.h"
#include "credentials/SystemCredentialStore.h"
#include "status/StatusStore.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QMenu>
#include <QSignalSpy>
#include <QSystemTrayIcon>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using State = HelperStatus::State;

namespace {

const QString credential = PairedSetup::credential();
const QString activityPath = QStringLiteral("/api/devices/me/activity");
const QString taskA = QStringLiteral("6a1f0c3e-2b7d-4e59-9c1a-0d8e7f6a5b41");

QByteArray recentJson(int count)
{
    QByteArray tasks;
    for (int i = 1; i <= count; ++i) {
        tasks += (i > 1 ? "," : "") + QStringLiteral(R"({"taskId":"00000000-0000-4000-8000-00000000000%1","label":"Task %1","status":"done","completedAt":"x"})")
                                          .arg(i)
                                          .toUtf8();
    }
    return tasks;
}

QByteArray activityJson(const QString &runningLabel, int recentCount)
{
    return QStringLiteral(R"({"running":{"taskId":"%1","label":"%2","provider":"codex","startedAt":"x"},"recent":[%3]})")
        .arg(taskA, runningLabel, QString::fromUtf8(recentJson(recentCount)))
        .toUtf8();
}

void writeConfig(const QString &apiUrl)
{
    QVERIFY(FileConfigStore(AppPaths::config()).save(PairedSetup::config(apiUrl)));
}

MenuItem label(const QString &text)
{
    return MenuItem{.text = text};
}

MenuItem separator()
{
    return MenuItem{.separator = true};
}

MenuItem actionItem(const QString &text, MenuItem::Action action)
{
    return MenuItem{.text = text, .enabled = true, .action = action};
}

QStringList texts(const QList<MenuItem> &items)
{
    QStringList result;
    for (const MenuItem &item : items)
        result.append(item.separator ? QStringLiteral("---") : item.text);
    return result;
}

} // namespace

class tst_MenuController : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<MenuController> makeController(const QString &logoMarkPath = QString())
    {
        return std::make_unique<MenuController>(nullptr, MenuControllerOptions{0.5, logoMarkPath.isEmpty() ? m_logoMark : logoMarkPath});
    }

    // Opens the menu and waits for its fetch to end.
    void openMenu(MenuController &controller)
    {
        QSignalSpy refreshed(&controller, &MenuController::activityRefreshed);
        controller.menuWillOpen();
        QVERIFY(refreshed.count() == 1 || refreshed.wait(10000));
    }

    QString openedUrl()
    {
        QFile file(m_opened.filePath(QStringLiteral("url")));
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()).trimmed() : QString();
    }

    QTemporaryDir m_opened;
    QString m_logoMark = QStringLiteral(LOGOMARK_PATH);
    std::unique_ptr<RunnerBundle> m_bundle;

private Q_SLOTS:
    void initTestCase()
    {
        // The browser is faked at the one place a URL leaves the helper: $BROWSER.
        const QString browser = m_opened.filePath(QStringLiteral("browser"));
        QFile script(browser);
        QVERIFY(script.open(QIODevice::WriteOnly));
        script.write("#!/bin/sh\nprintf '%s\\n' \"$1\" > \"$(dirname \"$0\")/url.tmp\" && mv \"$(dirname \"$0\")/url.tmp\" \"$(dirname \"$0\")/url\"\n");
        script.close();
        QVERIFY(script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        qputenv("BROWSER", QFile::encodeName(browser));
    }

    void init()
    {
        QDir(AppPaths::applicationSupportDirectory()).removeRecursively();
        QFile::remove(m_opened.filePath(QStringLiteral("url")));
        QVERIFY(TestKeyring::unlockDefault());
        QVERIFY(TestKeyring::deleteCredentialItems());
        QVERIFY(SystemCredentialStore(std::nullopt).save(credential));
        m_bundle = std::make_unique<RunnerBundle>();
    }

    void cleanup()
    {
        m_bundle.reset();
    }

    void listsNothingBeforeAnyActivity()
    {
        const auto controller = makeController();
        const QList<MenuItem> expected{label(QStringLiteral("Starting runner…")),
                                       separator(),
                                       label(QStringLiteral("Running")),
                                       label(QStringLiteral("Nothing running")),
                                       separator(),
                                       label(QStringLiteral("Recent")),
                                       label(QStringLiteral("Nothing recent")),
                                       separator(),
                                       actionItem(QStringLiteral("Open Tarnwick…"), MenuItem::Action::openMainApp),
                                       actionItem(QStringLiteral("View All Tasks"), MenuItem::Action::openDashboard),
                                       separator(),
                                       actionItem(QStringLiteral("Quit Tarnwick"), MenuItem::Action::quit)};
        QCOMPARE(controller->items(), expected);

        // The real menu holds the same lines.
        const QList<QAction *> actions = controller->menu()->actions();
        QCOMPARE(actions.size(), expected.size());
        for (qsizetype i = 0; i < actions.size(); ++i) {
            QCOMPARE(actions[i]->isSeparator(), expected[i].separator);
            QCOMPARE(actions[i]->text(), expected[i].text);
            QCOMPARE(actions[i]->isEnabled(), expected[i].separator || expected[i].enabled);
        }
        QCOMPARE(controller->statusItem()->toolTip(), QStringLiteral("Tarnwick — Starting runner…"));
        QCOMPARE(controller->iconName(), QStringLiteral("LogoMark"));
    }

    void titleFollowsTheStatus_data()
    {
        QTest::addColumn<HelperStatus>("status");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("symbol");

        const QDateTime now = QDateTime::currentDateTimeUtc();
        QTest::newRow("fresh connected") << HelperStatus(State::connected, now) << QStringLiteral("Ready for tasks")
                                         << QStringLiteral("laptopcomputer");
        QTest::newRow("stale connected") << HelperStatus(State::connected, now.addSecs(-60))
                                         << QStringLiteral("Starting runner…") << QStringLiteral("laptopcomputer");
        QTest::newRow("needs attention") << HelperStatus(State::needsAttention, now, QStringLiteral("x"))
                                         << QStringLiteral("Needs attention")
                                         << QStringLiteral("exclamationmark.triangle.fill");
        QTest::newRow("stopped") << HelperStatus(State::stopped, now) << QStringLiteral("Needs attention")
                                 << QStringLiteral("exclamationmark.triangle.fill");
    }

    void titleFollowsTheStatus()
    {
        QFETCH(HelperStatus, status);
        QFETCH(QString, title);
        QFETCH(QString, symbol);

        // Read from the status file at construction, then from every published status.
        QVERIFY(StatusStore(AppPaths::status()).save(status));
        const auto fromFile = makeController(QStringLiteral("/nonexistent/LogoMark.png"));
        QCOMPARE(fromFile->items().first().text, title);
        QCOMPARE(fromFile->statusItem()->toolTip(), QStringLiteral("Tarnwick — ") + title);
        QCOMPARE(fromFile->iconName(), symbol);

        QFile::remove(AppPaths::status());
        const auto published = makeController();
        published->update(status);
        QCOMPARE(published->items().first().text, title);
        QCOMPARE(published->menu()->actions().first()->text(), title);
        QCOMPARE(published->statusItem()->toolTip(), QStringLiteral("Tarnwick — ") + title);
        QCOMPARE(published->iconName(), QStringLiteral("LogoMark"));
    }

    void brandedImageIsEighteenPixelsSquare()
    {
        const std::optional<QIcon> icon = MenuController::brandedMenuImage(m_logoMark);
        QVERIFY(icon);
        QVERIFY(icon->isMask());
        QCOMPARE(icon->availableSizes().first(), QSize(18, 18));
        QVERIFY(!MenuController::brandedMenuImage(QStringLiteral("/nonexistent/LogoMark.png")));
    }

    void showsTheRunningTaskAndThreeRecentOnes()
    {
        ScriptedServer server;
        server.answer(activityPath, 200, activityJson(QStringLiteral("Fix & ship"), 5));
        writeConfig(server.url().toString());
        const auto controller = makeController();
        openMenu(*controller);

        const QList<MenuItem> &items = controller->items();
        QCOMPARE(texts(items).mid(2, 8),
                 QStringList({QStringLiteral("Running"), QStringLiteral("Fix & ship"), QStringLiteral("---"),
                              QStringLiteral("Recent"), QStringLiteral("Task 1 — done"),
                              QStringLiteral("Task 2 — done"), QStringLiteral("Task 3 — done"),
                              QStringLiteral("---")}));
        QCOMPARE(items[3].representedObject, taskA.toUpper());
        QVERIFY(items[3].enabled);
        QCOMPARE(items[6].representedObject, QStringLiteral("00000000-0000-4000-8000-000000000001"));
        // "&" is shown as itself, not taken for a mnemonic.
        QCOMPARE(controller->menu()->actions()[3]->text(), QStringLiteral("Fix && ship"));

        const QList<ScriptedServer::Request> requests = server.requests(activityPath);
        QCOMPARE(requests.size(), 1);
        QCOMPARE(requests.first().header("Authorization"), "Bearer " + credential.toUtf8());

        // Choosing a task opens its page on the dashboard.
        controller->menu()->actions()[3]->trigger();
        QTRY_COMPARE(openedUrl(), server.url().toString() + QStringLiteral("?task=") + taskA.toUpper());
    }

    void aRejectedCredentialNeedsAttentionAndKeepsTheTasks()
    {
        ScriptedServer server;
        server.answer(activityPath, 200, activityJson(QStringLiteral("Running task"), 1));
        writeConfig(server.url().toString());
        const auto controller = makeController();
        controller->update(HelperStatus(State::connected, QDateTime::currentDateTimeUtc()));
        openMenu(*controller);
        QCOMPARE(controller->items().first().text, QStringLiteral("Ready for tasks"));

        // The local service does not know this credential.
        LocalServiceProcess service;
        QVERIFY2(service.start(), service.errors().constData());
        writeConfig(service.baseUrl().toString());
        openMenu(*controller);

        const QStringList shown = texts(controller->items());
        QCOMPARE(shown.first(), QStringLiteral("Needs attention"));
        QVERIFY(shown.contains(QStringLiteral("Couldn’t refresh activity")));
        QVERIFY(shown.contains(QStringLiteral("Running task")));
        QVERIFY(shown.contains(QStringLiteral("Task 1 — done")));
        QCOMPARE(controller->statusItem()->toolTip(), QStringLiteral("Tarnwick — Needs attention"));

        // A later success clears it.
        writeConfig(server.url().toString());
        openMenu(*controller);
        QCOMPARE(controller->items().first().text, QStringLiteral("Ready for tasks"));
        QVERIFY(!texts(controller->items()).contains(QStringLiteral("Couldn’t refresh activity")));
    }

    void onlyTheLatestOfTwoQuickOpensApplies()
    {
        ScriptedServer server;
        server.hang(activityPath);
        writeConfig(server.url().toString());
        const auto controller = makeController();
        QSignalSpy refreshed(controller.get(), &MenuController::activityRefreshed);

        controller->menuWillOpen();
        QTRY_COMPARE(server.requests(activityPath).size(), 1);
        server.answer(activityPath, 200, activityJson(QStringLiteral("Second"), 0));
        controller->menuWillOpen();
        QVERIFY(refreshed.wait(10000));
        QVERIFY(texts(controller->items()).contains(QStringLiteral("Second")));

        // The first fetch times out later and changes nothing.
        QTest::qWait(1500);
        QCOMPARE(refreshed.count(), 1);
        QVERIFY(!texts(controller->items()).contains(QStringLiteral("Couldn’t refresh activity")));
        QCOMPARE(controller->items().first().text, QStringLiteral("Starting runner…"));
    }

    void withoutConfigurationNothingIsFetched()
    {
        const auto controller = makeController();
        controller->menuWillOpen();
        QVERIFY(texts(controller->items()).contains(QStringLiteral("Couldn’t refresh activity")));

        controller->openDashboard();
        QTRY_COMPARE(openedUrl(), productionBaseURL().toString());
    }

    void opensTheDashboardOfTheConfiguredService()
    {
        writeConfig(QStringLiteral("https://service.example/base/"));
        const auto controller = makeController();
        controller->openDashboard();
        QTRY_COMPARE(openedUrl(), QStringLiteral("https://service.example/base/"));

        QFile::remove(m_opened.filePath(QStringLiteral("url")));
        controller->openTask(QStringLiteral("not a task"));
        controller->openTask(taskA);
        QTRY_COMPARE(openedUrl(), QStringLiteral("https://service.example/?task=") + taskA.toUpper());
    }

    void opensTheSetupApplication()
    {
        m_bundle->writeFile(QStringLiteral("Contents/MacOS/Tarnwick"),
                            "#!/bin/sh\necho started > \"" + QFile::encodeName(m_opened.filePath(QStringLiteral("app"))) + "\"\n",
                            true);
        const auto controller = makeController();
        controller->openMainApp();
        QTRY_VERIFY(QFile::exists(m_opened.filePath(QStringLiteral("app"))));
    }

    void quitCallsTheQuitAction()
    {
        const auto controller = makeController();
        int quits = 0;
        controller->setOnQuit([&quits] { ++quits; });
        controller->menu()->actions().last()->trigger();
        QCOMPARE(quits, 1);
    }
};

QTEST_MAIN(tst_MenuController)
#include "tst_menucontroller.moc"
