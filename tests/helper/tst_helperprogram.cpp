#include "HelperFixture.h"
#include "StandInTrayWatcher.h"

#include "common/HelperInstanceLock.h"

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QScopeGuard>
#include <QTest>

#include <csignal>

using State = HelperStatus::State;

constexpr int patience = HelperFixture::patience;

// The whole helper as a program, started the way the session starts it: the real keyring, a desktop
// whose tray comes late.
class TestHelperProgram : public QObject
{
    Q_OBJECT

    std::optional<HelperFixture> m_fixture;

private Q_SLOTS:
    void init() { m_fixture.emplace(); }

    void aTerminationSignalKillsAStubbornRunnerTwoSecondsIn()
    {
        m_fixture->setRuntime(HelperFixture::stubbornRunner());
        QProcess helper;
        const qint64 runner = startHelper(helper);
        QVERIFY(runner > 0);
        QTRY_VERIFY_WITH_TIMEOUT(savedStatus() && savedStatus()->state() == State::connected, patience);

        QElapsedTimer elapsed;
        elapsed.start();
        ::kill(pid_t(helper.processId()), SIGTERM);
        QVERIFY(waitUntilEnded(runner));
        const qint64 killedAfter = elapsed.elapsed();
        // Never before the two seconds; the upper bound leaves room for a loaded machine.
        QVERIFY2(killedAfter >= 1990 && killedAfter <= 2600, qPrintable(QString::number(killedAfter)));
        QCOMPARE(runnerRecord(QStringLiteral("terms")).count("term"), 1);

        QVERIFY(helper.waitForFinished(patience));
        QCOMPARE(helper.exitStatus(), QProcess::NormalExit);
        QCOMPARE(helper.exitCode(), 0);
        QVERIFY(savedStatus() && savedStatus()->state() == State::stopped);
    }

    void theRunnerDoesNotOutliveAHelperKilledOutright()
    {
        QProcess helper;
        const qint64 runner = startHelper(helper);
        QVERIFY(runner > 0);
        helper.kill();
        QVERIFY(helper.waitForFinished(patience));
        QVERIFY(waitUntilEnded(runner));
    }

    void aNewHelperStopsTheRunnerOfOneKilledOutright()
    {
        // The stubborn runner shrugs off the SIGTERM its parent's death sends it.
        m_fixture->setRuntime(HelperFixture::stubbornRunner());
        QProcess killed;
        const qint64 orphan = startHelper(killed);
        QVERIFY(orphan > 0);
        QProcess helper;
        // Should the rule fail, neither stubborn runner outlives the test.
        const auto cleanUp = qScopeGuard([&] {
            for (const qint64 runner : runnerLaunches()) {
                if (!hasEnded(runner))
                    ::kill(pid_t(runner), SIGKILL);
            }
        });
        killed.kill();
        QVERIFY(killed.waitForFinished(patience));
        QTRY_VERIFY(runnerRecord(QStringLiteral("terms")).contains("term"));
        QVERIFY(!hasEnded(orphan));

        const qint64 runner = startHelper(helper, 2);
        QVERIFY(runner > 0);
        // Gone before the new one was launched: never two at once.
        QVERIFY(runnerRecord(QStringLiteral("overlaps")).isEmpty());
        QVERIFY(hasEnded(orphan));
        ::kill(pid_t(helper.processId()), SIGTERM);
        QVERIFY(helper.waitForFinished(patience));
        QVERIFY(hasEnded(runner));
    }

    // The session's lock is never taken through a link planted in its place.
    void aSymlinkAtTheLockIsRefused()
    {
        QTemporaryDir elsewhere;
        const QString target = elsewhere.filePath(QStringLiteral("target"));
        QFile::remove(HelperInstanceLock::path()); // a helper before this test may have left it
        QVERIFY(QFile::link(target, HelperInstanceLock::path()));
        QVERIFY(!HelperInstanceLock::acquire(std::chrono::milliseconds(0)));
        QVERIFY(!QFile::exists(target));
        QVERIFY(QFile::remove(HelperInstanceLock::path()));
    }

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
        QVERIFY(helper.waitForFinished(patience));
        QCOMPARE(helper.exitCode(), 0);
    }
};

QTEST_GUILESS_MAIN(TestHelperProgram)
#include "tst_helperprogram.moc"
