#include "RunnerSupervisorWorker.h"

#include "ChildProcess.h"
#include "HelperLocations.h"
#include "RunnerRecord.h"
#include "SupervisorLog.h"
#include "supervision/RunnerSupervisionPolicy.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QTimer>

#include <csignal>

#include <malloc.h>

#include <pthread.h>

namespace {

const QString disconnectedMessage = QStringLiteral("This Mac is disconnected. Open Tarnwick to reconnect.");
const QString setupIncompleteMessage = QStringLiteral("Setup is incomplete. Open Tarnwick to finish.");
const QString runtimeIncompleteMessage =
    QStringLiteral("The installed background runtime is incomplete. Reinstall Tarnwick.");
const QString couldNotStartMessage = QStringLiteral("The runner could not start. It will retry shortly.");
const QString crashMessage = QStringLiteral("The runner stopped unexpectedly. Restarting shortly.");

QProcessEnvironment runnerEnvironment()
{
    QProcessEnvironment environment;
    environment.insert(QStringLiteral("HOME"), QDir::homePath());
    environment.insert(QStringLiteral("NODE_ENV"), QStringLiteral("production"));
    environment.insert(QStringLiteral("PATH"), QStringLiteral("/usr/bin:/bin:/usr/sbin:/sbin"));
    environment.insert(QStringLiteral("TMPDIR"), QDir::tempPath());
    return environment;
}

QString exitReasonText(RunnerExitReason reason)
{
    switch (reason) {
    case RunnerExitReason::crash: return QStringLiteral("unexpectedly");
    case RunnerExitReason::configurationChanged: return QStringLiteral("after a configuration change");
    case RunnerExitReason::quit: return QStringLiteral("because the helper is quitting");
    }
    return {};
}

QString exitText(const QProcess &process)
{
    return process.exitStatus() == QProcess::CrashExit ? QStringLiteral("killed by signal %1").arg(process.exitCode())
                                                       : QStringLiteral("exit code %1").arg(process.exitCode());
}

} // namespace

RunnerSupervisorWorker::RunnerSupervisorWorker(const HelperParts &parts, StatusSink onStatus)
    : m_credentialReader(parts.credentialReader)
    , m_configStore(parts.configStore)
    , m_statusStore(parts.statusPath)
    , m_configPath(parts.configPath)
    , m_applicationSupportDirectory(parts.applicationSupportDirectory)
    , m_mainAppBundle(parts.mainAppBundle)
    , m_timing(parts.timing)
    , m_onStatus(std::move(onStatus))
    , m_heartbeatTimer(new QTimer(this))
    , m_relaunchTimer(new QTimer(this))
{
    m_heartbeatTimer->setTimerType(Qt::PreciseTimer);
    connect(m_heartbeatTimer, &QTimer::timeout, this, &RunnerSupervisorWorker::heartbeat);
    m_relaunchTimer->setTimerType(Qt::PreciseTimer);
    m_relaunchTimer->setSingleShot(true);
    connect(m_relaunchTimer, &QTimer::timeout, this, &RunnerSupervisorWorker::launch);
}

RunnerSupervisorWorker::~RunnerSupervisorWorker() = default;

void RunnerSupervisorWorker::prepareThread()
{
    // Writing the credential to a runner that has just died must fail with EPIPE, not end the helper.
    sigset_t pipeSignal;
    sigemptyset(&pipeSignal);
    sigaddset(&pipeSignal, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipeSignal, nullptr);
}

void RunnerSupervisorWorker::start()
{
    // A runner left behind by a helper that was killed outright goes before this helper launches its own.
    const Result<bool> stopped = RunnerRecord::stopRecordedRunner(m_timing.killDelay);
    if (!stopped)
        qCWarning(lcSupervisor).noquote()
            << "A runner left by an earlier helper could not be looked for:" << stopped.error().description;
    else if (*stopped)
        qCInfo(lcSupervisor) << "Stopped a runner left by an earlier helper";
    m_stopping = false;
    scheduleLaunch(std::chrono::milliseconds(0));
}

void RunnerSupervisorWorker::scheduleLaunch(std::chrono::milliseconds delay)
{
    if (m_stopping)
        return;
    // Restarting the one single-shot timer replaces a launch that is still pending.
    m_relaunchTimer->start(delay);
}

void RunnerSupervisorWorker::launch()
{
    if (m_stopping || m_process)
        return;

    // Blocks this thread for at most the reader's time limit; the status and the runner wait meanwhile.
    const CredentialReading::Answer credential = m_credentialReader->read();
    if (!credential)
        return failLaunch(QStringLiteral("the device credential could not be read: ") + credential.error().description);
    if (!*credential) {
        reportLaunchFailure(QStringLiteral("no device credential is stored"));
        publish(HelperStatus::State::needsAttention, disconnectedMessage);
        return scheduleLaunch(m_timing.relaunchDelay);
    }

    const Result<std::optional<AppConfig>> config = m_configStore->load();
    if (!config)
        return failLaunch(QStringLiteral("the configuration could not be read: ") + config.error().description);
    if (!*config) {
        reportLaunchFailure(QStringLiteral("there is no configuration file yet"));
        publish(HelperStatus::State::needsAttention, setupIncompleteMessage);
        return scheduleLaunch(m_timing.relaunchDelay);
    }

    const QDir bundle(m_mainAppBundle);
    const QString executable = bundle.absoluteFilePath(QStringLiteral("Contents/Resources/runtime/node"));
    const QString script = bundle.absoluteFilePath(QStringLiteral("Contents/Resources/runner/runner.js"));
    const QFileInfo executableInfo(executable);
    if (!executableInfo.isFile() || !executableInfo.isExecutable() || !QFileInfo::exists(script)) {
        reportLaunchFailure(QStringLiteral("the runtime is incomplete: %1 must be an executable file and %2 must exist")
                                .arg(executable, script));
        publish(HelperStatus::State::needsAttention, runtimeIncompleteMessage);
        return scheduleLaunch(m_timing.relaunchDelay);
    }

    QProcess *process = prepareProcess(executable, script);
    const std::optional<QDateTime> launchDate = HelperLocations::modificationDate(m_configPath);
    m_exitReason = RunnerExitReason::crash;
    m_process = process;
    publish(HelperStatus::State::starting);

    process->start();
    if (!process->waitForStarted())
        return failLaunch(QStringLiteral("the runtime could not be started: ") + process->errorString());
    watchExit(process);
    if (!handOverCredential(process, **credential))
        return failLaunch(QStringLiteral("the runner did not take its credential: ") + process->errorString());
    m_lastLaunchFailure.clear();
    qCInfo(lcSupervisor) << "Launched the runner, process" << process->processId();
    startHeartbeat(process, launchDate);
    // What the launch allocated on its way (the reader's process, the credential, the configuration) is
    // freed by now; the helper then idles for hours, so the freed pages go back to the system.
    ::malloc_trim(0);
}

void RunnerSupervisorWorker::watchExit(QProcess *process)
{
    const qint64 pid = process->processId();
    // A helper killed outright cannot stop its runner; the record lets the next helper do it.
    if (const Result<void> recorded = RunnerRecord::save(pid); !recorded)
        qCWarning(lcSupervisor).noquote()
            << "The runner's record could not be written:" << recorded.error().description;
    // Queued, so an exit noticed while this launch is still writing the credential is handled after it.
    connect(
        process, &QProcess::finished, this,
        [this, ended = QPointer(process), pid] {
            if (const Result<void> removed = RunnerRecord::removeIfNaming(pid); !removed)
                qCWarning(lcSupervisor).noquote()
                    << "The runner's record could not be removed:" << removed.error().description;
            if (ended)
                handleExit(ended);
        },
        Qt::QueuedConnection);
}

QProcess *RunnerSupervisorWorker::prepareProcess(const QString &executable, const QString &script)
{
    auto *process = new QProcess(this);
    process->setProgram(executable);
    process->setArguments({script});
    process->setWorkingDirectory(m_applicationSupportDirectory);
    process->setProcessEnvironment(runnerEnvironment());
    process->setStandardOutputFile(QProcess::nullDevice());
    process->setStandardErrorFile(QProcess::nullDevice());
    ChildProcess::endWithHelper(*process);
    return process;
}

bool RunnerSupervisorWorker::handOverCredential(QProcess *process, const QString &credential)
{
    const QByteArray line = credential.toUtf8() + '\n';
    if (process->write(line) != line.size())
        return false;
    process->closeWriteChannel();
    // Nothing is sent until the pipe is written; a runner that died meanwhile makes this fail (EPIPE). Each
    // wait returns once some bytes went, so it is repeated until all of them did.
    const QDeadlineTimer deadline(m_timing.handOverTimeout);
    while (process->bytesToWrite() > 0) {
        if (deadline.hasExpired() || !process->waitForBytesWritten(int(deadline.remainingTime())))
            return false;
    }
    return true;
}

// A launch that keeps failing for the same reason is retried every few seconds; its warning is given once,
// and again only when the reason changes or after a launch has succeeded.
void RunnerSupervisorWorker::reportLaunchFailure(const QString &cause)
{
    if (cause == m_lastLaunchFailure) {
        qCDebug(lcSupervisor).noquote() << "The runner was again not launched:" << cause;
        return;
    }
    m_lastLaunchFailure = cause;
    qCWarning(lcSupervisor).noquote() << "The runner was not launched:" << cause;
}

void RunnerSupervisorWorker::failLaunch(const QString &cause)
{
    reportLaunchFailure(cause);
    QProcess *process = m_process;
    m_process = nullptr;
    if (process) {
        // The exit of a process given up here is ignored when it comes; only its object is freed then.
        // One that ignores the terminate signal is killed before the next launch, so that two runners
        // never run at once.
        if (process->state() != QProcess::NotRunning) {
            process->terminate();
            QTimer::singleShot(m_timing.killDelay, Qt::PreciseTimer, process, [process] { process->kill(); });
        } else {
            process->deleteLater();
        }
    }
    publish(HelperStatus::State::needsAttention, couldNotStartMessage);
    scheduleLaunch(m_timing.relaunchDelay);
}

void RunnerSupervisorWorker::startHeartbeat(QProcess *process, const std::optional<QDateTime> &configDate)
{
    m_heartbeatProcess = process;
    m_launchConfigDate = configDate;
    m_heartbeatTimer->start(m_timing.firstHeartbeat);
}

void RunnerSupervisorWorker::heartbeat()
{
    if (m_heartbeatTimer->intervalAsDuration() != m_timing.heartbeatInterval)
        m_heartbeatTimer->start(m_timing.heartbeatInterval);
    QProcess *process = m_heartbeatProcess;
    if (!process || m_process != process)
        return;

    if (HelperLocations::modificationDate(m_configPath) == m_launchConfigDate) {
        if (process->state() == QProcess::Running)
            publish(HelperStatus::State::connected);
        else
            publish(HelperStatus::State::needsAttention);
        return;
    }
    // A changed, new or removed configuration: ask the runner to end and go on ticking. A runner that
    // ignores the request is asked again at every tick, never killed.
    qCInfo(lcSupervisor) << "The configuration changed; asking the runner to end so that it starts again";
    m_exitReason = RunnerExitReason::configurationChanged;
    publish(HelperStatus::State::starting);
    process->terminate();
}

void RunnerSupervisorWorker::handleExit(QProcess *process)
{
    process->deleteLater();
    if (!m_process || m_process != process)
        return;
    m_heartbeatTimer->stop();
    m_heartbeatProcess = nullptr;
    m_process = nullptr;
    // A crash is a failure; every other exit is one the helper asked for.
    const QString ending =
        QStringLiteral("The runner ended %1, %2").arg(exitReasonText(m_exitReason), exitText(*process));
    if (m_exitReason == RunnerExitReason::crash)
        qCWarning(lcSupervisor).noquote() << ending;
    else
        qCInfo(lcSupervisor).noquote() << ending;

    if (m_stopping || !RunnerSupervisionPolicy::shouldRelaunch(m_exitReason))
        return finishStopping();
    if (m_exitReason == RunnerExitReason::crash)
        publish(HelperStatus::State::needsAttention, crashMessage);
    else
        publish(HelperStatus::State::starting);
    qCInfo(lcSupervisor) << "Relaunching the runner in" << m_timing.relaunchDelay.count() << "ms";
    scheduleLaunch(m_timing.relaunchDelay);
}

void RunnerSupervisorWorker::stop(Completion completion)
{
    m_stopCompletions.append(std::move(completion));
    m_stopping = true;
    m_exitReason = RunnerExitReason::quit;
    m_relaunchTimer->stop();
    m_heartbeatTimer->stop();
    m_heartbeatProcess = nullptr;

    if (m_process && m_process->state() == QProcess::Running) {
        qCInfo(lcSupervisor) << "Stopping the runner";
        m_process->terminate();
        QTimer::singleShot(m_timing.killDelay, Qt::PreciseTimer, this,
                           [this, process = QPointer(m_process)] { killIfStillRunning(process); });
        return;
    }
    finishStopping();
}

void RunnerSupervisorWorker::killIfStillRunning(const QPointer<QProcess> &process)
{
    if (process && m_process == process && process->state() == QProcess::Running) {
        qCWarning(lcSupervisor) << "The runner did not end when asked; killing it";
        process->kill();
    }
}

void RunnerSupervisorWorker::finishStopping()
{
    m_process = nullptr;
    qCInfo(lcSupervisor) << "Stopped";
    publish(HelperStatus::State::stopped);
    const QList<Completion> completions = std::exchange(m_stopCompletions, {});
    for (const Completion &completion : completions)
        completion();
}

void RunnerSupervisorWorker::publish(HelperStatus::State state, const std::optional<QString> &error)
{
    const HelperStatus status(state, QDateTime::currentDateTimeUtc(), error);
    // A change of state or message is what the user acts on, so it is flushed to disk; a heartbeat that
    // renews the time of the same status is not (the file is rebuilt at every start, and the disk may
    // sleep). A status that cannot be written is not retried: the next change or heartbeat writes again.
    // The warning is given once per run of failures, not at every heartbeat.
    const bool renewal =
        m_lastPublished && m_lastPublished->state() == state && m_lastPublished->error() == status.error();
    m_lastPublished = status;
    const Result<void> saved =
        m_statusStore.save(status, renewal ? AtomicFile::Durability::unflushed : AtomicFile::Durability::flushed);
    if (!saved && !m_statusWriteFailing)
        qCWarning(lcSupervisor).noquote() << "The status file could not be written:" << saved.error().description;
    else if (saved && m_statusWriteFailing)
        qCInfo(lcSupervisor) << "The status file is written again";
    m_statusWriteFailing = !saved;
    m_onStatus(status);
}
