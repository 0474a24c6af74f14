#include "HelperFixture.h"
#include "TestKeyring.h"

#include "RunnerRecord.h"
#include "RunnerSupervisor.h"
#include "common/AtomicFile.h"
#include "common/HelperInstanceLock.h"
#include "config/AppPaths.h"
#include "status/StatusStore.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QMutex>
#include <QProcess>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <csignal>
#include <dlfcn.h>
#include <memory>

using namespace std::chrono_literals;
using namespace Qt::StringLiterals;
using State = HelperStatus::State;

namespace {

const QString disconnected = QStringLiteral("This Mac is disconnected. Open Tarnwick to reconnect.");
const QString setupIncomplete = QStringLiteral("Setup is incomplete. Open Tarnwick to finish.");
const QString runtimeIncomplete =
    QStringLiteral("The installed background runtime is incomplete. Reinstall Tarnwick.");
const QString couldNotStart = QStringLiteral("The runner could not start. It will retry shortly.");
const QString crashed = QStringLiteral("The runner stopped unexpectedly. Restarting shortly.");

// Fast enough for the suite, slow enough that a loaded machine keeps the order of events.
const RunnerSupervisorTiming timing{50ms, 300ms, 150ms, 300ms};
constexpr int patience = 20000;

enum class Fault {
    noCredential, lockedKeyring, noConfig, badConfig, noRuntime, runtimeNotExecutable, noScript, crashing
};

// The supervisor's warnings while it lives, from whichever thread logs them.
class SupervisorWarnings
{
public:
    SupervisorWarnings() { s_previous = qInstallMessageHandler(capture); }
    ~SupervisorWarnings()
    {
        qInstallMessageHandler(s_previous);
        const QMutexLocker lock(&s_mutex);
        s_warnings.clear();
    }
    QStringList all() const
    {
        const QMutexLocker lock(&s_mutex);
        return s_warnings;
    }

private:
    static void capture(QtMsgType type, const QMessageLogContext &context, const QString &message)
    {
        if (type == QtWarningMsg && qstrcmp(context.category, "tarnwick.supervisor") == 0) {
            const QMutexLocker lock(&s_mutex);
            s_warnings.append(message);
        }
        s_previous(type, context, message);
    }
    static inline QtMessageHandler s_previous = nullptr;
    static inline QMutex s_mutex;
    static inline QStringList s_warnings;
};

// Moves the configuration file's modification time without changing its content.
void touchConfig()
{
    QFile file(AppPaths::config());
    QVERIFY(file.open(QIODevice::ReadWrite));
    QVERIFY(file.setFileTime(QDateTime::currentDateTimeUtc().addSecs(10), QFileDevice::FileModificationTime));
}

// Children of this process that have ended but were never reaped.
int zombieChildren()
{
    const QByteArray self = QByteArray::number(QCoreApplication::applicationPid());
    const QStringList pids = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs);
    return int(std::count_if(pids.begin(), pids.end(), [&self](const QString &pid) {
        const QByteArrayList stat = processStat(pid.toLongLong());
        return stat.size() > 1 && stat[0] == "Z" && stat[1] == self;
    }));
}

std::optional<HelperStatus> savedStatus()
{
    return StatusStore(AppPaths::status()).load().value_or(std::nullopt);
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

QByteArray recordedRunner()
{
    QFile file(RunnerRecord::path());
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QByteArray runnerRecordOf(qint64 pid, qint64 startTimeOffset = 0)
{
    const std::optional<quint64> startTime = RunnerRecord::startTimeOf(pid);
    return startTime ? QByteArray::number(pid) + ' ' + QByteArray::number(*startTime + startTimeOffset) + '\n'
                     : QByteArray();
}

std::atomic<int> flushes{0};

} // namespace

// Every fsync of this process passes here first, so a test can tell which writes were flushed.
extern "C" int fsync(int descriptor)
{
    static const auto next = reinterpret_cast<int (*)(int)>(::dlsym(RTLD_NEXT, "fsync"));
    ++flushes;
    return next(descriptor);
}

Q_DECLARE_METATYPE(Fault)

class TestRunnerSupervisor : public QObject
{
    Q_OBJECT

private:
    void startSupervisor(RunnerSupervisorTiming supervisorTiming = timing)
    {
        m_statuses.clear();
        m_supervisor = std::make_unique<RunnerSupervisor>(HelperFixture::systemParts(supervisorTiming));
        connect(m_supervisor.get(), &RunnerSupervisor::published, this, [this](const HelperStatus &status) {
            QVERIFY(QThread::currentThread() == QCoreApplication::instance()->thread());
            m_statuses.append(status);
        });
        m_supervisor->start();
    }

    int countOf(State state, const std::optional<QString> &error = std::nullopt) const
    {
        return int(std::count_if(m_statuses.begin(), m_statuses.end(), [&](const HelperStatus &status) {
            return status.state() == state && status.error() == error;
        }));
    }

    // Stops the supervisor and waits for the completion, so no runner outlives a test.
    void stopAndWait()
    {
        bool done = false;
        m_supervisor->stop([&done] { done = true; });
        QTRY_VERIFY_WITH_TIMEOUT(done, patience);
    }

    std::optional<HelperFixture> m_fixture;
    std::unique_ptr<RunnerSupervisor> m_supervisor;
    QList<HelperStatus> m_statuses;

private Q_SLOTS:
    void init() { m_fixture.emplace(); }

    void cleanup()
    {
        if (m_supervisor)
            stopAndWait();
        m_supervisor.reset();
    }

    void launchesWithTheRunnerContract()
    {
        flushes = 0;
        startSupervisor();
        QTRY_VERIFY_WITH_TIMEOUT(countOf(State::connected) >= 2, patience);
        // Starting and the first connected are flushed (the file, then its folder); the heartbeats that
        // only renew connected are not.
        QCOMPARE(flushes.load(), 4);

        QCOMPARE(m_statuses.first(), HelperStatus(State::starting, m_statuses.first().lastHeartbeat()));
        QCOMPARE(countOf(State::connected), m_statuses.size() - 1);
        QCOMPARE(runnerLaunches().size(), 1);
        QCOMPARE(runnerRecord(QStringLiteral("input")), HelperFixture::credential().toUtf8() + '\n');
        QCOMPARE(runnerRecord(QStringLiteral("arguments")), QFile::encodeName(m_fixture->scriptPath()) + '\n');
        QCOMPARE(QString::fromLocal8Bit(runnerRecord(QStringLiteral("directory"))).trimmed(),
                 QDir(AppPaths::applicationSupportDirectory()).canonicalPath());
        QByteArrayList environment = runnerRecord(QStringLiteral("environment")).split('\0');
        environment.removeAll(QByteArray());
        std::sort(environment.begin(), environment.end());
        QCOMPARE(environment, QByteArrayList({"HOME=" + QFile::encodeName(QDir::homePath()), "NODE_ENV=production",
                                              "PATH=/usr/bin:/bin:/usr/sbin:/sbin",
                                              "TMPDIR=" + QFile::encodeName(QDir::tempPath())}));

        // Completions of two stops run in call order, once the runner has ended and stopped is published.
        const qint64 runner = runnerLaunches().first();
        QList<bool> completed;
        const auto done = [&] { completed.append(hasEnded(runner) && m_statuses.last().state() == State::stopped); };
        m_supervisor->stop(done);
        m_supervisor->stop(done);
        QTRY_COMPARE_WITH_TIMEOUT(completed, QList<bool>({true, true}), patience);
    }

    void publishesWhatKeepsTheRunnerDown_data()
    {
        QTest::addColumn<Fault>("fault");
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("warning");
        const QString notLaunched = u"The runner was not launched: "_s;
        QTest::newRow("no credential") << Fault::noCredential << disconnected
                                       << notLaunched + u"no device credential is stored"_s;
        // Locked is not signed out, and the helper never asks for the password.
        QTest::newRow("locked keyring") << Fault::lockedKeyring << couldNotStart
                                        << notLaunched + u"the device credential could not be read: "
                                                         u"Keychain access failed (-25308)."_s;
        QTest::newRow("no configuration") << Fault::noConfig << setupIncomplete
                                          << notLaunched + u"there is no configuration file yet"_s;
        QTest::newRow("malformed configuration") << Fault::badConfig << couldNotStart
                                                 << notLaunched + u"the configuration could not be read: "_s;
        QTest::newRow("runtime missing") << Fault::noRuntime << runtimeIncomplete
                                         << notLaunched + u"the runtime is incomplete: "_s;
        QTest::newRow("runtime not executable") << Fault::runtimeNotExecutable << runtimeIncomplete
                                                << notLaunched + u"the runtime is incomplete: "_s;
        QTest::newRow("script missing") << Fault::noScript << runtimeIncomplete
                                        << notLaunched + u"the runtime is incomplete: "_s;
        QTest::newRow("runner crashes") << Fault::crashing << crashed
                                        << u"The runner ended unexpectedly, exit code 0"_s;
    }

    // Each cause is logged; one that comes back at every retry only once, while every crash is its own.
    void publishesWhatKeepsTheRunnerDown()
    {
        QFETCH(Fault, fault);
        QFETCH(QString, message);
        QFETCH(QString, warning);
        const SupervisorWarnings warnings;
        switch (fault) {
        case Fault::noCredential: QVERIFY(TestKeyring::deleteCredentialItems()); break;
        case Fault::lockedKeyring: QVERIFY(TestKeyring::lockAll()); break;
        case Fault::noConfig: QVERIFY(QFile::remove(AppPaths::config())); break;
        case Fault::badConfig: QVERIFY(QFile::resize(AppPaths::config(), 10)); break;
        case Fault::noRuntime: QVERIFY(QFile::remove(m_fixture->runtimePath())); break;
        case Fault::runtimeNotExecutable:
            QVERIFY(QFile::setPermissions(m_fixture->runtimePath(), QFile::ReadOwner | QFile::WriteOwner));
            break;
        case Fault::noScript: QVERIFY(QFile::remove(m_fixture->scriptPath())); break;
        case Fault::crashing: m_fixture->setRuntime(HelperFixture::crashingRunner); break;
        }

        startSupervisor();
        QTRY_VERIFY_WITH_TIMEOUT(countOf(State::needsAttention, message) >= 3, patience);

        // The same message again and again, a relaunch delay apart, with only a crashing runner's launches between.
        const bool launches = fault == Fault::crashing;
        QCOMPARE(m_statuses.first().state(), launches ? State::starting : State::needsAttention);
        std::optional<QDateTime> previous;
        for (const HelperStatus &status : std::as_const(m_statuses)) {
            if (launches && status.state() != State::needsAttention)
                continue;
            QCOMPARE(status, HelperStatus(State::needsAttention, status.lastHeartbeat(), message));
            if (previous)
                QVERIFY(previous->msecsTo(*status.lastHeartbeat()) >= timing.relaunchDelay.count() - 2);
            previous = status.lastHeartbeat();
        }
        QVERIFY(launches ? runnerLaunches().size() >= 3 : runnerLaunches().isEmpty());
        QVERIFY(savedStatus() && savedStatus()->error() == message);

        const QStringList logged = warnings.all();
        QVERIFY2(launches ? logged.size() >= 3 : logged.size() == 1, qPrintable(logged.join(u'\n')));
        for (const QString &line : logged)
            QVERIFY2(line.startsWith(warning), qPrintable(line));
    }

    // Every heartbeat fails to write the status here; the warning is given once for the whole run.
    void anUnwritableStatusIsReportedOnce()
    {
        QVERIFY(QDir().mkpath(AppPaths::status())); // a folder where the file should go
        const SupervisorWarnings warnings;
        startSupervisor();
        QTRY_VERIFY_WITH_TIMEOUT(countOf(State::connected) >= 3, patience);
        QCOMPARE(warnings.all().filter(u"The status file could not be written: "_s).size(), 1);
        QVERIFY(QDir().rmdir(AppPaths::status()));
    }

    // A supervisor does nothing until started; a stop while a launch is pending keeps it from coming.
    void launchesOnlyBetweenStartAndStop()
    {
        m_statuses.clear();
        m_supervisor = std::make_unique<RunnerSupervisor>(HelperFixture::systemParts(timing));
        connect(m_supervisor.get(), &RunnerSupervisor::published, this,
                [this](const HelperStatus &status) { m_statuses.append(status); });
        QTest::qWait(int(timing.relaunchDelay.count() * 3));
        QVERIFY(runnerLaunches().isEmpty() && m_statuses.isEmpty() && !savedStatus());

        QVERIFY(QFile::remove(AppPaths::config()));
        m_supervisor->start();
        QTRY_VERIFY_WITH_TIMEOUT(countOf(State::needsAttention, setupIncomplete) == 1, patience);
        stopAndWait();
        QVERIFY(HelperFixture::writeConfig());
        QTest::qWait(int(timing.relaunchDelay.count() * 3));
        QVERIFY(runnerLaunches().isEmpty());
        QCOMPARE(m_statuses.last().state(), State::stopped);
    }

    void relaunchesWhenTheConfigurationAppearsOrChanges()
    {
        QVERIFY(QFile::remove(AppPaths::config()));
        startSupervisor();
        QTRY_VERIFY_WITH_TIMEOUT(countOf(State::needsAttention, setupIncomplete) >= 1, patience);
        QVERIFY(HelperFixture::writeConfig());
        QTRY_VERIFY_WITH_TIMEOUT(runnerLaunches().size() == 1, patience);
        QTRY_VERIFY_WITH_TIMEOUT(m_statuses.last().state() == State::connected, patience);
        const qint64 first = runnerLaunches().first();

        // The old runner is gone before the new one starts, a relaunch delay after its end.
        const qsizetype before = m_statuses.size();
        touchConfig();
        QTRY_VERIFY_WITH_TIMEOUT(runnerLaunches().size() == 2, patience);
        QVERIFY(hasEnded(first));
        QTRY_VERIFY_WITH_TIMEOUT(m_statuses.last().state() == State::connected, patience);
        // Asked to end, ended, launched again, running: ticks from before the change left out.
        QList<HelperStatus> changed = m_statuses.mid(before);
        while (!changed.isEmpty() && changed.first().state() == State::connected)
            changed.removeFirst();
        QList<State> states;
        for (const HelperStatus &status : std::as_const(changed))
            states.append(status.state());
        QCOMPARE(states.mid(0, 4), (QList<State>{State::starting, State::starting, State::starting, State::connected}));
        QVERIFY(changed[1].lastHeartbeat()->msecsTo(*changed[2].lastHeartbeat()) >= timing.relaunchDelay.count() - 2);
    }

    // Asked again at every tick after a configuration change, killed only when stopping.
    void aStubbornRunnerIsKilledOnlyWhenStopping()
    {
        m_fixture->setRuntime(HelperFixture::stubbornRunner);
        startSupervisor();
        QTRY_VERIFY_WITH_TIMEOUT(countOf(State::connected) >= 1, patience);
        const qint64 runner = runnerLaunches().first();

        touchConfig();
        QTRY_VERIFY_WITH_TIMEOUT(runnerRecord(QStringLiteral("terms")).count("term") >= 3, patience);
        QVERIFY(!hasEnded(runner));
        QCOMPARE(runnerLaunches().size(), 1);
        QCOMPARE(m_statuses.last().state(), State::starting);

        QElapsedTimer elapsed;
        elapsed.start();
        stopAndWait();
        QVERIFY2(elapsed.elapsed() >= timing.killDelay.count() - 2, qPrintable(QString::number(elapsed.elapsed())));
        QVERIFY(hasEnded(runner));
        QCOMPARE(m_statuses.last().state(), State::stopped);
    }

    void stopsALeftRunnerOnlyWhenTheRecordNamesThatVeryProcess_data()
    {
        QTest::addColumn<QByteArray>("record");
        QTest::addColumn<bool>("stopped");
        // "%" stands for the stray process's own record.
        QTest::newRow("that process") << QByteArray("%") << true;
        QTest::newRow("its pid, another start time") << QByteArray("%+1") << false;
        QTest::newRow("pid 0 (the own group to kill())") << QByteArray("0 1\n") << false;
        QTest::newRow("malformed") << QByteArray("% trailing\n") << false;
    }

    // A runner that ignores SIGTERM, left by a helper that was killed outright: it is stopped before the
    // first launch, and nothing else ever is.
    void stopsALeftRunnerOnlyWhenTheRecordNamesThatVeryProcess()
    {
        QFETCH(QByteArray, record);
        QFETCH(bool, stopped);
        QProcess stray;
        stray.start(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), QStringLiteral("trap '' TERM; exec sleep 600")});
        QVERIFY(stray.waitForStarted());
        const qint64 strayPid = stray.processId();
        QTRY_VERIFY(processStat(strayPid).value(0) == "S"); // past the trap, sleeping
        const QByteArray own = runnerRecordOf(strayPid);
        record.replace("%+1", runnerRecordOf(strayPid, 1).trimmed()).replace("%", own.trimmed());
        QVERIFY(AtomicFile::replace(RunnerRecord::path(), record));

        startSupervisor();
        QTRY_VERIFY_WITH_TIMEOUT(runnerLaunches().size() == 1, patience);
        QCOMPARE(hasEnded(strayPid), stopped);
        QTRY_COMPARE(recordedRunner(), runnerRecordOf(runnerLaunches().first()));
        if (!stopped)
            stray.kill();
        stray.waitForFinished();
        stopAndWait();
        QVERIFY(!QFile::exists(RunnerRecord::path()));
    }

    void survivesHundredsOfCrashesWithoutLeaks()
    {
        // /bin/true ends before or while its input is written, so both the crash and the failed
        // hand-over (EPIPE) come up again and again.
        QVERIFY(QFile::remove(m_fixture->runtimePath()));
        QVERIFY(QFile::link(QStringLiteral("/bin/true"), m_fixture->runtimePath()));
        startSupervisor(RunnerSupervisorTiming{50ms, 300ms, 1ms, 300ms});

        QTRY_VERIFY_WITH_TIMEOUT(countOf(State::starting) >= 20, patience);
        const auto openDescriptors = [] {
            const QDir::Filters everything = QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot;
            return QDir(QStringLiteral("/proc/self/fd")).entryList(everything).size();
        };
        const qsizetype descriptors = openDescriptors();
        QTRY_VERIFY_WITH_TIMEOUT(countOf(State::starting) >= 200, 60000);
        stopAndWait();
        QTRY_COMPARE_WITH_TIMEOUT(zombieChildren(), 0, patience);
        QTRY_VERIFY_WITH_TIMEOUT(openDescriptors() <= descriptors, patience);
    }

    // The whole helper as a program, started the way the session starts it.
    void aTerminationSignalKillsAStubbornRunnerTwoSecondsIn()
    {
        m_fixture->setRuntime(HelperFixture::stubbornRunner);
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
        m_fixture->setRuntime(HelperFixture::stubbornRunner);
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
        QVERIFY(hasEnded(orphan));
        QVERIFY(!hasEnded(runner));
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
        QVERIFY(!HelperInstanceLock::acquire(0ms));
        QVERIFY(!QFile::exists(target));
        QVERIFY(QFile::remove(HelperInstanceLock::path()));
    }
};

QTEST_GUILESS_MAIN(TestRunnerSupervisor)
#include "tst_runnersupervisor.moc"
