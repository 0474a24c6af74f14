#include "HelperFixture.h"
#include "TestFiles.h"

#include "RunnerRecord.h"
#include "RunnerSupervisor.h"
#include "RunnerSupervisorWorker.h"
#include "common/AtomicFile.h"
#include "config/AppPaths.h"

#include <QMutex>
#include <QTest>

#include <atomic>
#include <csignal>
#include <dlfcn.h>
#include <functional>

using State = HelperStatus::State;

constexpr int patience = HelperFixture::patience;
constexpr RunnerSupervisorTiming timing = HelperFixture::fastTiming;

namespace {

const QString setupIncomplete = QStringLiteral("Setup is incomplete. Open Tarnwick to finish.");
const QString couldNotStart = QStringLiteral("The runner could not start. It will retry shortly.");
const QString crashed = QStringLiteral("The runner stopped unexpectedly. Restarting shortly.");

// What keeps the runner down, done to the fixture.
using Fault = std::function<void(HelperFixture &)>;

// The supervisor's warnings since the test began, from whichever thread logs them.
QMutex warningsMutex;
QStringList warnings;
QtMessageHandler defaultHandler = nullptr;

void captureWarnings(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (type == QtWarningMsg && qstrcmp(context.category, "tarnwick.supervisor") == 0) {
        const QMutexLocker lock(&warningsMutex);
        warnings.append(message);
    }
    defaultHandler(type, context, message);
}

QStringList supervisorWarnings()
{
    const QMutexLocker lock(&warningsMutex);
    return warnings;
}

// Moves the configuration file's modification time without changing its content.
void touchConfig()
{
    QFile file(AppPaths::config());
    QVERIFY(file.open(QIODevice::ReadWrite));
    QVERIFY(file.setFileTime(QDateTime::currentDateTimeUtc().addSecs(10), QFileDevice::FileModificationTime));
}

// The record of a runner: its pid and start time (field 22 of its stat line).
QByteArray runnerRecordOf(qint64 pid, qint64 startTimeOffset = 0)
{
    const quint64 startTime = processStat(pid).value(22 - 3).toULongLong() + startTimeOffset;
    return QByteArray::number(pid) + ' ' + QByteArray::number(startTime) + '\n';
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

    std::optional<HelperFixture> m_fixture;
    std::unique_ptr<RunnerSupervisor> m_supervisor;
    QList<HelperStatus> m_statuses;

    void startSupervisor(RunnerSupervisorTiming supervisorTiming = timing, bool start = true)
    {
        m_supervisor = std::make_unique<RunnerSupervisor>(m_fixture->parts(supervisorTiming));
        connect(m_supervisor.get(), &RunnerSupervisor::published, this, [this](const HelperStatus &status) {
            QVERIFY(QThread::currentThread() == thread());
            m_statuses.append(status);
        });
        if (start)
            m_supervisor->start();
    }

    qsizetype countOf(State state, const std::optional<QString> &error = std::nullopt) const
    {
        return std::ranges::count_if(
            m_statuses, [&](const HelperStatus &status) { return status.state() == state && status.error() == error; });
    }

    // Stops the supervisor and waits for the completion, so no runner outlives a test.
    void stopAndWait()
    {
        bool done = false;
        m_supervisor->stop([&done] { done = true; });
        QTRY_VERIFY_WITH_TIMEOUT(done, patience);
    }

private Q_SLOTS:
    void initTestCase() { defaultHandler = qInstallMessageHandler(captureWarnings); }

    void init()
    {
        const QMutexLocker lock(&warningsMutex);
        warnings.clear();
        m_statuses.clear();
        m_fixture.emplace(HelperFixture::Credential::inMemory);
    }

    void cleanup()
    {
        if (m_supervisor)
            stopAndWait();
        m_supervisor.reset();
        QVERIFY2(runnerRecord(QStringLiteral("overlaps")).isEmpty(), "two runners ran at once");
    }

    // Nothing before start(); launched as the runner expects once the configuration appears, relaunched a
    // relaunch delay after it changes; a stop while a launch is pending keeps that launch from coming.
    void launchesBetweenStartAndStopAsTheConfigurationComesAndGoes()
    {
        startSupervisor(timing, false);
        QTest::qWait(int(timing.relaunchDelay.count() * 3));
        QVERIFY(runnerLaunches().isEmpty() && m_statuses.isEmpty() && !savedStatus());

        QVERIFY(QFile::remove(AppPaths::config()));
        m_supervisor->start();
        QTRY_VERIFY_WITH_TIMEOUT(countOf(State::needsAttention, setupIncomplete) == 1, patience);
        QVERIFY(HelperFixture::writeConfig());
        QTRY_VERIFY_WITH_TIMEOUT(countOf(State::connected) >= 2, patience);
        QCOMPARE(runnerLaunches().size(), 1);
        const QByteArray dataDirectory = QDir(AppPaths::applicationSupportDirectory()).canonicalPath().toUtf8();
        QCOMPARE(runnerRecord(QStringLiteral("seen")), HelperFixture::credential().toUtf8() + '\n'
                                                           + m_fixture->scriptPath().toUtf8() + '\n' + dataDirectory
                                                           + "\nHOME=" + QDir::homePath().toUtf8()
                                                           + "\nNODE_ENV=production\nPATH=/usr/bin:/bin:/usr/sbin:/sbin"
                                                           + "\nTMPDIR=" + QDir::tempPath().toUtf8() + '\n');

        const qsizetype before = m_statuses.size();
        flushes = 0;
        touchConfig();
        QTRY_VERIFY_WITH_TIMEOUT(runnerLaunches().size() == 2 && m_statuses.last().state() == State::connected,
                                 patience);
        // Asked to end, ended, launched again a relaunch delay later, running; ticks from before the change
        // left out. Each change of state is flushed (the file, then its folder), a renewal is not.
        QCOMPARE(flushes.load(), 4);
        const auto change = std::find_if(m_statuses.begin() + before, m_statuses.end(),
                                         [](const HelperStatus &status) { return status.state() != State::connected; });
        const QList<HelperStatus> changed(change, m_statuses.end());
        QCOMPARE_GE(changed.size(), 4);
        QCOMPARE((QList<State>{changed[0].state(), changed[1].state(), changed[2].state(), changed[3].state()}),
                 (QList<State>{State::starting, State::starting, State::starting, State::connected}));
        QVERIFY(changed[1].lastHeartbeat()->msecsTo(*changed[2].lastHeartbeat()) >= timing.relaunchDelay.count() - 2);

        QVERIFY(QFile::remove(AppPaths::config()));
        QTRY_VERIFY_WITH_TIMEOUT(countOf(State::needsAttention, setupIncomplete) == 2, patience);
        stopAndWait();
        QVERIFY(HelperFixture::writeConfig());
        QTest::qWait(int(timing.relaunchDelay.count() * 3));
        QCOMPARE(runnerLaunches().size(), 2);
        QCOMPARE(m_statuses.last().state(), State::stopped);
    }

    void publishesWhatKeepsTheRunnerDown_data()
    {
        QTest::addColumn<Fault>("fault");
        QTest::addColumn<bool>("launches");
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("warning");
        const QString notLaunched = QStringLiteral("The runner was not launched: ");
        QTest::newRow("no credential") << Fault([](HelperFixture &f) { f.credentialStore->credential.reset(); })
                                       << false
                                       << QStringLiteral("This Mac is disconnected. Open Tarnwick to reconnect.")
                                       << notLaunched + QStringLiteral("no device credential is stored");
        // A locked keyring, say: not signed out.
        QTest::newRow("credential unreadable") << Fault([](HelperFixture &f) {
            f.credentialStore->failure = Error{QStringLiteral("Keychain"), -25308, QStringLiteral("locked")};
        }) << false << couldNotStart << notLaunched + QStringLiteral("the device credential could not be read: locked");
        QTest::newRow("runtime not executable") << Fault([](HelperFixture &f) {
            QVERIFY(QFile::setPermissions(f.runtimePath(), QFile::ReadOwner | QFile::WriteOwner));
        }) << false << QStringLiteral("The installed background runtime is incomplete. Reinstall Tarnwick.")
                                                << notLaunched + QStringLiteral("the runtime is incomplete: ");
        QTest::newRow("runner crashes") << Fault([](HelperFixture &f) {
            f.setRuntime("echo $$ >> launches\ncat > /dev/null\nexit 0\n");
        }) << true << crashed << QStringLiteral("The runner ended unexpectedly, exit code 0");
        // More than a pipe holds, so the hand-over waits for a reader that never comes.
        QTest::newRow("runner does not take its credential") << Fault([](HelperFixture &f) {
            f.setRuntime(HelperFixture::stubbornRunner(true));
            f.credentialStore->credential = QString(100'000, u'x');
        }) << true << couldNotStart << notLaunched + QStringLiteral("the runner did not take its credential: ");
    }

    // Retried a relaunch delay apart with the same message; each cause is logged, one that comes back at
    // every retry only once, while every crash is its own. A runner that does not take its credential is
    // given up; as it ignores the terminate signal it is killed a kill delay later, before the next launch
    // (cleanup() checks that no two runners overlap).
    void publishesWhatKeepsTheRunnerDown()
    {
        QFETCH(Fault, fault);
        QFETCH(bool, launches);
        QFETCH(QString, message);
        QFETCH(QString, warning);
        fault(*m_fixture);
        // Long enough for a runner's shell to set its trap and note its launch before it is given up.
        RunnerSupervisorTiming handOverTiming = timing;
        handOverTiming.handOverTimeout = std::chrono::milliseconds(1000);
        startSupervisor(handOverTiming);
        QTRY_VERIFY_WITH_TIMEOUT(countOf(State::needsAttention, message) >= 3, patience);
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
        QVERIFY(launches ? runnerLaunches().size() >= 3 && hasEnded(runnerLaunches().first())
                         : runnerLaunches().isEmpty());
        QCOMPARE(runnerRecord(QStringLiteral("terms")).startsWith("term\n"), launches && message == couldNotStart);
        QVERIFY(savedStatus() && savedStatus()->error() == message);
        const QStringList logged = supervisorWarnings();
        QVERIFY2(message == crashed ? logged.size() >= 3 : logged.size() == 1, qPrintable(logged.join(u'\n')));
        for (const QString &line : logged)
            QVERIFY2(line.startsWith(warning), qPrintable(line));
    }

    // The worker on this thread, held up while its runner dies and a tick comes due: the tick comes before
    // the exit is handled, and finds the runner not running.
    void aHeartbeatThatFindsTheRunnerGoneNeedsAttention()
    {
        QList<HelperStatus> statuses;
        RunnerSupervisorWorker worker(m_fixture->parts(),
                                      [&statuses](const HelperStatus &status) { statuses.append(status); });
        worker.start();
        QTRY_VERIFY_WITH_TIMEOUT(!statuses.isEmpty() && statuses.last().state() == State::connected, patience);
        const qsizetype before = statuses.size();
        ::kill(pid_t(runnerLaunches().first()), SIGKILL);
        QVERIFY(waitUntilEnded(runnerLaunches().first()));
        QTest::qSleep(int(timing.heartbeatInterval.count()));

        QTRY_VERIFY_WITH_TIMEOUT(statuses.size() >= before + 2, patience);
        QCOMPARE(statuses[before], HelperStatus(State::needsAttention, statuses[before].lastHeartbeat()));
        QCOMPARE(statuses[before + 1],
                 HelperStatus(State::needsAttention, statuses[before + 1].lastHeartbeat(), crashed));
        bool stopped = false;
        worker.stop([&stopped] { stopped = true; });
        QTRY_VERIFY_WITH_TIMEOUT(stopped, patience);
    }

    // Asked again at every tick after a configuration change, never killed for it; killed a kill delay
    // after a stop, and only then are the stops complete, each in turn.
    void aStubbornRunnerIsAskedAgainForAChangeAndKilledForAStop()
    {
        m_fixture->setRuntime(HelperFixture::stubbornRunner());
        startSupervisor();
        QTRY_VERIFY_WITH_TIMEOUT(countOf(State::connected) >= 1, patience);
        const qint64 runner = runnerLaunches().first();

        touchConfig();
        QTRY_VERIFY_WITH_TIMEOUT(runnerRecord(QStringLiteral("terms")).count("term") >= 3, patience);
        QVERIFY(!hasEnded(runner));
        QCOMPARE(runnerLaunches().size(), 1);
        QCOMPARE(m_statuses.last().state(), State::starting);

        QList<bool> completed;
        const auto done = [&] { completed.append(hasEnded(runner) && m_statuses.last().state() == State::stopped); };
        m_supervisor->stop(done);
        m_supervisor->stop(done);
        QTRY_COMPARE_WITH_TIMEOUT(completed, QList<bool>({true, true}), patience);
    }

    void stopsALeftRunnerOnlyWhenTheRecordNamesThatVeryProcess_data()
    {
        QTest::addColumn<QByteArray>("record");
        QTest::addColumn<bool>("stopped");
        // "%" stands for the stray process's own record.
        QTest::newRow("that process") << QByteArray("%") << true;
        QTest::newRow("its pid, another start time") << QByteArray("%+1") << false;
        QTest::newRow("pid 0 (the own group to kill())") << QByteArray("0 1\n") << false;
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
        record.replace("%+1", runnerRecordOf(strayPid, 1).trimmed()).replace("%", runnerRecordOf(strayPid).trimmed());
        QVERIFY(AtomicFile::replace(RunnerRecord::path(), record));

        startSupervisor();
        QTRY_VERIFY_WITH_TIMEOUT(runnerLaunches().size() == 1, patience);
        QCOMPARE(hasEnded(strayPid), stopped);
        QTRY_COMPARE(TestFiles::read(RunnerRecord::path()), runnerRecordOf(runnerLaunches().first()));
        stray.kill();
        stray.waitForFinished();
        stopAndWait();
        QVERIFY(!QFile::exists(RunnerRecord::path()));
    }

    // /bin/true ends before or while its input is written, so both the crash and the failed hand-over
    // (EPIPE) come up again and again. A status that cannot be written (a folder stands in its place) is
    // reported once for the whole run.
    void survivesHundredsOfCrashesWithoutLeaks()
    {
        QVERIFY(QDir().mkpath(AppPaths::status()));
        QVERIFY(QFile::remove(m_fixture->runtimePath()));
        QVERIFY(QFile::link(QStringLiteral("/bin/true"), m_fixture->runtimePath()));
        RunnerSupervisorTiming quick = timing;
        quick.relaunchDelay = std::chrono::milliseconds(1);
        startSupervisor(quick);
        QTRY_VERIFY_WITH_TIMEOUT(countOf(State::starting) >= 20, patience);
        const auto entries = [](const QString &folder) {
            return QDir(folder).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot);
        };
        const qsizetype descriptors = entries(QStringLiteral("/proc/self/fd")).size();
        QTRY_VERIFY_WITH_TIMEOUT(countOf(State::starting) >= 200, 60000);
        stopAndWait();
        // No child of this process left ended but unreaped.
        const QByteArray self = QByteArray::number(QCoreApplication::applicationPid());
        const auto zombie = [&self](const QString &pid) {
            const QByteArrayList stat = processStat(pid.toLongLong());
            return stat.size() > 1 && stat[0] == "Z" && stat[1] == self;
        };
        QTRY_COMPARE_WITH_TIMEOUT(std::ranges::count_if(entries(QStringLiteral("/proc")), zombie), 0, patience);
        QTRY_VERIFY_WITH_TIMEOUT(entries(QStringLiteral("/proc/self/fd")).size() <= descriptors, patience);
        QCOMPARE(supervisorWarnings().filter(QStringLiteral("The status file could not be written: ")).size(), 1);
        QVERIFY(QDir().rmdir(AppPaths::status()));
    }
};

QTEST_GUILESS_MAIN(TestRunnerSupervisor)
#include "tst_runnersupervisor.moc"
