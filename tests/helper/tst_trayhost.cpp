#include "HelperFixture.h"
#include "StandInTrayWatcher.h"

#include <QProcess>
#include <QTest>

#include <csignal>

// The helper as a program on a desktop whose panel starts after it, as at login.
class tst_TrayHost : public QObject
{
    Q_OBJECT

    std::optional<HelperFixture> m_fixture;

private Q_SLOTS:
    void init() { m_fixture.emplace(); }

    void theTrayItemShowsWhenAPanelComesLate()
    {
        StandInTrayWatcher watcher;
        QProcess helper;
        QVERIFY(startHelper(helper) > 0);

        // The desktop's watcher comes 2 s later, and the panel a little after it: an item made before
        // there is a host would never show.
        QTest::qWait(2000);
        watcher.appear();
        QTest::qWait(500);
        QVERIFY(watcher.items().isEmpty());
        watcher.registerHost();
        QTRY_COMPARE_WITH_TIMEOUT(watcher.items().size(), 1, 10000);
        QCOMPARE(watcher.items().first().senderPid, helper.processId());

        // A panel that restarts gets the item again.
        watcher.disappear();
        watcher.appear();
        QTRY_COMPARE_WITH_TIMEOUT(watcher.items().size(), 2, 10000);
        QCOMPARE(watcher.items().last().senderPid, helper.processId());

        ::kill(pid_t(helper.processId()), SIGTERM);
        QVERIFY(helper.waitForFinished(20000));
        QCOMPARE(helper.exitCode(), 0);
    }
};

QTEST_GUILESS_MAIN(tst_TrayHost)
#include "tst_trayhost.moc"
