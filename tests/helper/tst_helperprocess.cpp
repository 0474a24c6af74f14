#include "PairedSetup.h"
#include "RunnerBundle.h"
#include "TestKeyring.h"

#include "config/AppPaths.h"
#include "status/StatusStore.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTest>

#include <csignal>
#include <memory>

namespace {

constexpr int patience = 20000;

std::optional<HelperStatus> savedStatus()
{
    const Result<std::optional<HelperStatus>> status = StatusStore(AppPaths::status()).load();
    return status ? *status : std::nullopt;
}

// Gone, or ended and waiting only to be reaped.
bool hasEnded(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return true;
    const QByteArray text = stat.readAll();
    return text.mid(text.lastIndexOf(')') + 2, 1) == "Z";
}

// Polls more finely than QTRY_* so a measured time is not blurred by the polling.
bool waitUntilEnded(qint64 pid, int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    while (!hasEnded(pid)) {
        if (deadline.hasExpired())
            return false;
        QTest::qSleep(2);
    }
    return true;
}

} // namespace

class tst_HelperProcess : public QObject
{
    Q_OBJECT

private:
    void startHelper(QProcess &helper)
    {
        helper.setProgram(QStringLiteral(HELPER_PATH));
        helper.setProcessChannelMode(QProcess::ForwardedChannels);
        helper.start();
        QVERIFY(helper.waitForStarted());
    }

    std::unique_ptr<RunnerBundle> m_bundle;

private Q_SLOTS:
    void init()
    {
        QDir(AppPaths::applicationSupportDirectory()).removeRecursively();
        QVERIFY(TestKeyring::unlockDefault());
        QVERIFY(PairedSetup::write());
        m_bundle = std::make_unique<RunnerBundle>();
    }

    void cleanup()
    {
        m_bundle.reset();
    }

    void tellsItsVersion()
    {
        QProcess helper;
        helper.start(QStringLiteral(HELPER_PATH), {QStringLiteral("--version")});
        QVERIFY(helper.waitForFinished(patience));
        QCOMPARE(helper.exitCode(), 0);
        QCOMPARE(helper.readAllStandardOutput(), QByteArrayLiteral("TarnwickHelper " TARNWICK_VERSION " (" TARNWICK_BUILD_NUMBER ")\n"));
    }

    void aTerminationSignalStopsTheRunnerFirst_data()
    {
        QTest::addColumn<int>("signalNumber");
        QTest::newRow("SIGTERM") << SIGTERM;
        QTest::newRow("SIGINT") << SIGINT;
        QTest::newRow("SIGHUP") << SIGHUP;
    }

    void aTerminationSignalStopsTheRunnerFirst()
    {
        QFETCH(int, signalNumber);
        QProcess helper;
        startHelper(helper);
        QTRY_VERIFY_WITH_TIMEOUT(runnerLaunches().size() == 1, patience);
        const qint64 runner = runnerLaunches().first();

        ::kill(pid_t(helper.processId()), signalNumber);
        QVERIFY(helper.waitForFinished(patience));
        QCOMPARE(helper.exitStatus(), QProcess::NormalExit);
        QCOMPARE(helper.exitCode(), 0);
        QVERIFY(hasEnded(runner));
        QCOMPARE(savedStatus()->state(), HelperStatus::State::stopped);
    }

    void killsAStubbornRunnerTwoSecondsIntoTheQuit()
    {
        m_bundle->setRuntime(RunnerBundle::stubbornRunner());
        QProcess helper;
        startHelper(helper);
        QTRY_VERIFY_WITH_TIMEOUT(runnerLaunches().size() == 1, patience);
        QTRY_VERIFY_WITH_TIMEOUT(savedStatus() && savedStatus()->state() == HelperStatus::State::connected, patience);
        const qint64 runner = runnerLaunches().first();

        QElapsedTimer elapsed;
        elapsed.start();
        ::kill(pid_t(helper.processId()), SIGTERM);
        QVERIFY(waitUntilEnded(runner, patience));
        const qint64 killedAfter = elapsed.elapsed();
        QVERIFY2(killedAfter >= 1990 && killedAfter <= 2100, qPrintable(QString::number(killedAfter)));
        QCOMPARE(runnerRecord(QStringLiteral("terms")).count("term"), 1);

        QVERIFY(helper.waitForFinished(patience));
        QCOMPARE(helper.exitStatus(), QProcess::NormalExit);
        QCOMPARE(helper.exitCode(), 0);
        QCOMPARE(savedStatus()->state(), HelperStatus::State::stopped);
    }

    void theRunnerDoesNotOutliveAHelperKilledOutright()
    {
        QProcess helper;
        startHelper(helper);
        QTRY_VERIFY_WITH_TIMEOUT(runnerLaunches().size() == 1, patience);
        const qint64 runner = runnerLaunches().first();

        helper.kill();
        QVERIFY(helper.waitForFinished(patience));
        QVERIFY(waitUntilEnded(runner, patience));
    }

    void aSecondHelperWaitsForTheFirstToQuit()
    {
        QProcess first;
        startHelper(first);
        QTRY_VERIFY_WITH_TIMEOUT(runnerLaunches().size() == 1, patience);

        QProcess second;
        startHelper(second);
        QTest::qWait(1500);
        QCOMPARE(runnerLaunches().size(), 1);

        ::kill(pid_t(first.processId()), SIGTERM);
        QVERIFY(first.waitForFinished(patience));
        QTRY_VERIFY_WITH_TIMEOUT(runnerLaunches().size() == 2, patience);
        QVERIFY(hasEnded(runnerLaunches().first()));

        ::kill(pid_t(second.processId()), SIGTERM);
        QVERIFY(second.waitForFinished(patience));
        QCOMPARE(second.exitCode(), 0);
    }
};

QTEST_GUILESS_MAIN(tst_HelperProcess)
#include "tst_helperprocess.moc"
