#include "HelperFixture.h"

#include "common/HelperInstanceLock.h"
#include "config/AppPaths.h"
#include "status/StatusStore.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

using namespace std::chrono_literals;
using State = HelperStatus::State;

namespace {

constexpr int patience = 20000;

std::optional<State> savedState()
{
    const Result<std::optional<HelperStatus>> status = StatusStore(AppPaths::status()).load();
    return status && *status ? std::optional((*status)->state()) : std::nullopt;
}

// Polls more finely than QTRY_* so a measured time is not blurred by the polling.
bool waitUntilEnded(qint64 pid)
{
    const QDeadlineTimer deadline(patience);
    while (!hasEnded(pid)) {
        if (deadline.hasExpired())
            return false;
        QTest::qSleep(2);
    }
    return true;
}

// Starts the helper and waits for its runner; answers the runner's pid (0 when none came).
qint64 startHelper(QProcess &helper)
{
    helper.setProgram(QStringLiteral(HELPER_PATH));
    helper.setProcessChannelMode(QProcess::ForwardedChannels);
    helper.start();
    if (!helper.waitForStarted() || !QTest::qWaitFor([] { return runnerLaunches().size() == 1; }, patience))
        return 0;
    return runnerLaunches().first();
}

} // namespace

// The whole helper as a program, started the way the session starts it.
class tst_HelperProcess : public QObject
{
    Q_OBJECT

    std::optional<HelperFixture> m_fixture;

private Q_SLOTS:
    void init() { m_fixture.emplace(); }

    void aTerminationSignalKillsAStubbornRunnerTwoSecondsIn()
    {
        m_fixture->setRuntime(HelperFixture::stubbornRunner);
        QProcess helper;
        const qint64 runner = startHelper(helper);
        QVERIFY(runner > 0);
        QTRY_VERIFY_WITH_TIMEOUT(savedState() == State::connected, patience);

        QElapsedTimer elapsed;
        elapsed.start();
        ::kill(pid_t(helper.processId()), SIGTERM);
        QVERIFY(waitUntilEnded(runner));
        const qint64 killedAfter = elapsed.elapsed();
        QVERIFY2(killedAfter >= 1990 && killedAfter <= 2100, qPrintable(QString::number(killedAfter)));
        QCOMPARE(runnerRecord(QStringLiteral("terms")).count("term"), 1);

        QVERIFY(helper.waitForFinished(patience));
        QCOMPARE(helper.exitStatus(), QProcess::NormalExit);
        QCOMPARE(helper.exitCode(), 0);
        QVERIFY(savedState() == State::stopped);
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

    // The session's lock is never taken through a link planted in its place.
    void aSymlinkAtTheLockIsRefused()
    {
        QTemporaryDir elsewhere;
        const QString target = elsewhere.filePath(QStringLiteral("target"));
        QFile::remove(HelperInstanceLock::path()); // a helper before this test may have left it
        QVERIFY(QFile::link(target, HelperInstanceLock::path()));
        QVERIFY(!HelperInstanceLock::acquire(0ms));
        QVERIFY(!QFile::exists(target));
        QVERIFY(QFile::remove(HelperInstanceLock::path()));
    }
};

QTEST_GUILESS_MAIN(tst_HelperProcess)
#include "tst_helperprocess.moc"
