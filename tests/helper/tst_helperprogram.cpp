#include "HelperFixture.h"
#include "StandInTrayWatcher.h"

#include "common/HelperInstanceLock.h"

#include <QElapsedTimer>
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

    // A runner that shrugs off SIGTERM outlives a helper killed outright (its parent's death sends it that
    // signal); the next helper stops it before launching its own. The desktop's tray watcher comes after
    // that helper, and the panel a little after it: an item made before there is a host would never show;
    // a panel that restarts gets the item again. A termination request then stops the helper's runner,
    // killing it two seconds in.
    void runsAfterAKilledHelperShowsInALateTrayAndStops()
    {
        m_fixture->setRuntime(HelperFixture::stubbornRunner());
        const auto cleanUp = qScopeGuard([] {
            for (const qint64 runner : runnerLaunches()) {
                if (!hasEnded(runner))
                    ::kill(pid_t(runner), SIGKILL);
            }
        });
        QProcess killed;
        const qint64 orphan = startHelper(killed);
        QVERIFY(orphan > 0);
        killed.kill();
        QVERIFY(killed.waitForFinished(patience));
        QTRY_VERIFY(runnerRecord(QStringLiteral("terms")).count("term") == 1);
        QVERIFY(!hasEnded(orphan));

        StandInTrayWatcher watcher;
        QProcess helper;
        const qint64 runner = startHelper(helper, 2);
        QVERIFY(runner > 0);
        QVERIFY(hasEnded(orphan));
        QVERIFY(runnerRecord(QStringLiteral("overlaps")).isEmpty());
        QTRY_VERIFY_WITH_TIMEOUT(savedStatus() && savedStatus()->state() == State::connected, patience);

        watcher.appear();
        QTest::qWait(500);
        QVERIFY(watcher.itemSenders.isEmpty());
        watcher.RegisterStatusNotifierHost();
        QTRY_COMPARE_WITH_TIMEOUT(watcher.itemSenders, QList<qint64>{helper.processId()}, 10000);
        watcher.disappear();
        watcher.appear();
        QTRY_COMPARE_WITH_TIMEOUT(watcher.itemSenders, QList<qint64>(2, helper.processId()), 10000);

        const qsizetype terms = runnerRecord(QStringLiteral("terms")).count("term");
        QElapsedTimer elapsed;
        elapsed.start();
        ::kill(pid_t(helper.processId()), SIGTERM);
        QVERIFY(waitUntilEnded(runner));
        // Never before the two seconds; the upper bound leaves room for a loaded machine.
        QVERIFY2(elapsed.elapsed() >= 1990 && elapsed.elapsed() <= 3000,
                 qPrintable(QString::number(elapsed.elapsed())));
        QVERIFY(helper.waitForFinished(patience));
        QCOMPARE(helper.exitStatus(), QProcess::NormalExit);
        QCOMPARE(helper.exitCode(), 0);
        QCOMPARE(runnerRecord(QStringLiteral("terms")).count("term"), terms + 1);
        QCOMPARE(savedStatus()->state(), State::stopped);
    }
};

QTEST_GUILESS_MAIN(TestHelperProgram)
#include "tst_helperprogram.moc"
