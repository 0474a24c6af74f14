#include "RunnerSupervisorQueue.h"

#include "HelperLocations.h"
#include "RunnerRecord.h"
#include "config/AppPaths.h"
#include "supervision/RunnerSupervisionPolicy.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QTimer>

#include <csignal>

#include <pthread.h>
#include <sys/prctl.h>
#include <unistd.h>

namespace {

const QString disconnectedMessage = QStringLiteral("This Mac is disconnected. Open Tarnwick to reconnect.");
const QString setupIncompleteMessage = QStringLiteral("Setup is incomplete. Open Tarnwick to finish.");
const QString runtimeIncompleteMessage =
    QStringLiteral("The installed background runtime is incomplete. Reinstall Tarnwick.");
const QString couldNotStartMessage = QStringLiteral("The runner could not start. It will retry shortly.");
const QString crashMessage = QStringLiteral("The runner stopped unexpectedly. Restarting shortly.");

// The credential is a few dozen bytes into an empty pipe; a runner that has not taken them by then is
// not going to.
constexpr int handOverTimeoutMs = 2000;

QProcessEnvironment runnerEnvironment()
{
    QProcessEnvironment environment;
    environment.insert(QStringLiteral("HOME"), QDir::homePath());
    environment.insert(QStringLiteral("NODE_ENV"), QStringLiteral("production"));
    environment.insert(QStringLiteral("PATH"), QStringLiteral("/usr/bin:/bin:/usr/sbin:/sbin"));
    environment.insert(QStringLiteral("TMPDIR"), QDir::tempPath());
    return environment;
}

// Runs in the child between fork and exec, so only async-signal-safe calls. The runner gets SIGTERM
// should the helper die without stopping it, and starts with the signal state of a fresh program rather
// than the helper's (SIGPIPE blocked on the supervision thread).
void prepareRunnerChild(pid_t helperPid)
{
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (::getppid() != helperPid)
        ::_exit(127);
    struct sigaction defaultAction = {};
    defaultAction.sa_handler = SIG_DFL;
    ::sigaction(SIGPIPE, &defaultAction, nullptr);
    sigset_t nothing;
    sigemptyset(&nothing);
    ::sigprocmask(SIG_SETMASK, &nothing, nullptr);
}

} // namespace

RunnerSupervisorQueue::RunnerSupervisorQueue(StatusSink publishToMainThread, RunnerSupervisorTiming timing)
    : m_credentialStore(SystemCredentialStore::sharedAccessGroup(), SystemCredentialStore::UnlockPrompt::never)
    , m_configStore(AppPaths::config())
    , m_statusStore(AppPaths::status())
    , m_onStatus(std::move(publishToMainThread))
    , m_timing(timing)
    , m_heartbeatTimer(new QTimer(this))
    , m_retryWorkItem(new QTimer(this))
{
    m_heartbeatTimer->setTimerType(Qt::PreciseTimer);
    connect(m_heartbeatTimer, &QTimer::timeout, this, &RunnerSupervisorQueue::heartbeat);
    m_retryWorkItem->setTimerType(Qt::PreciseTimer);
    m_retryWorkItem->setSingleShot(true);
    connect(m_retryWorkItem, &QTimer::timeout, this, &RunnerSupervisorQueue::launch);
}

RunnerSupervisorQueue::~RunnerSupervisorQueue() = default;

void RunnerSupervisorQueue::prepareThread()
{
    // Writing the credential to a runner that has just died must fail with EPIPE, not end the helper.
    sigset_t pipeSignal;
    sigemptyset(&pipeSignal);
    sigaddset(&pipeSignal, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipeSignal, nullptr);
}

void RunnerSupervisorQueue::start()
{
    // A runner left behind by a helper that was killed outright goes before this helper launches its own.
    [[maybe_unused]] const Result<bool> stopped = RunnerRecord::stopRecordedRunner(m_timing.killDelay);
    m_stopping = false;
    scheduleLaunch(std::chrono::milliseconds(0));
}

void RunnerSupervisorQueue::scheduleLaunch(std::chrono::milliseconds delay)
{
    if (m_stopping)
        return;
    // Restarting the one single-shot timer replaces a launch that is still pending.
    m_retryWorkItem->start(delay);
}

void RunnerSupervisorQueue::launch()
{
    if (m_stopping || m_process)
        return;

    const Result<std::optional<QString>> credential = m_credentialStore.read();
    if (!credential)
        return failLaunch();
    if (!*credential) {
        publish(HelperStatus::State::needsAttention, disconnectedMessage);
        return scheduleLaunch(m_timing.relaunchDelay);
    }

    const Result<std::optional<AppConfig>> config = m_configStore.load();
    if (!config)
        return failLaunch();
    if (!*config) {
        publish(HelperStatus::State::needsAttention, setupIncompleteMessage);
        return scheduleLaunch(m_timing.relaunchDelay);
    }

    const QDir bundle(HelperLocations::mainAppBundle());
    const QString executable = bundle.absoluteFilePath(QStringLiteral("Contents/Resources/runtime/node"));
    const QString script = bundle.absoluteFilePath(QStringLiteral("Contents/Resources/runner/runner.js"));
    const QFileInfo executableInfo(executable);
    if (!executableInfo.isFile() || !executableInfo.isExecutable() || !QFileInfo::exists(script)) {
        publish(HelperStatus::State::needsAttention, runtimeIncompleteMessage);
        return scheduleLaunch(m_timing.relaunchDelay);
    }

    QProcess *process = prepareProcess(executable, script);
    const std::optional<QDateTime> launchDate = HelperLocations::modificationDate(AppPaths::config());
    m_exitReason = RunnerExitReason::crash;
    m_process = process;
    publish(HelperStatus::State::starting);

    process->start();
    if (!process->waitForStarted())
        return failLaunch();
    watchExit(process);
    if (!handOverCredential(process, **credential))
        return failLaunch();
    startHeartbeat(process, launchDate);
}

void RunnerSupervisorQueue::watchExit(QProcess *process)
{
    const qint64 pid = process->processId();
    // A helper killed outright cannot stop its runner; the record lets the next helper do it.
    [[maybe_unused]] const Result<void> recorded = RunnerRecord::save(pid);
    // Queued, so an exit noticed while this launch is still writing the credential is handled after it.
    connect(process, &QProcess::finished, this,
            [this, ended = QPointer(process), pid] {
                [[maybe_unused]] const Result<void> removed = RunnerRecord::removeIfNaming(pid);
                if (ended)
                    handleExit(ended);
            },
            Qt::QueuedConnection);
}

QProcess *RunnerSupervisorQueue::prepareProcess(const QString &executable, const QString &script)
{
    auto *process = new QProcess(this);
    process->setProgram(executable);
    process->setArguments({script});
    process->setWorkingDirectory(AppPaths::applicationSupportDirectory());
    process->setProcessEnvironment(runnerEnvironment());
    process->setStandardOutputFile(QProcess::nullDevice());
    process->setStandardErrorFile(QProcess::nullDevice());
    process->setChildProcessModifier([helperPid = ::getpid()] { prepareRunnerChild(helperPid); });
    return process;
}

bool RunnerSupervisorQueue::handOverCredential(QProcess *process, const QString &credential)
{
    const QByteArray line = credential.toUtf8() + '\n';
    if (process->write(line) != line.size())
        return false;
    process->closeWriteChannel();
    // Nothing is sent until the pipe is written; a runner that died meanwhile makes this fail (EPIPE).
    return process->waitForBytesWritten(handOverTimeoutMs) && process->bytesToWrite() == 0;
}

void RunnerSupervisorQueue::failLaunch()
{
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

void RunnerSupervisorQueue::startHeartbeat(QProcess *process, const std::optional<QDateTime> &configDate)
{
    m_heartbeatProcess = process;
    m_launchConfigDate = configDate;
    m_heartbeatTimer->start(m_timing.firstHeartbeat);
}

void RunnerSupervisorQueue::heartbeat()
{
    if (m_heartbeatTimer->intervalAsDuration() != m_timing.heartbeatInterval)
        m_heartbeatTimer->start(m_timing.heartbeatInterval);
    QProcess *process = m_heartbeatProcess;
    if (!process || m_process != process)
        return;

    if (HelperLocations::modificationDate(AppPaths::config()) == m_launchConfigDate) {
        if (process->state() == QProcess::Running)
            publish(HelperStatus::State::connected);
        else
            publish(HelperStatus::State::needsAttention);
        return;
    }
    // A changed, new or removed configuration: ask the runner to end and go on ticking. A runner that
    // ignores the request is asked again at every tick, never killed.
    m_exitReason = RunnerExitReason::configurationChanged;
    publish(HelperStatus::State::starting);
    process->terminate();
}

void RunnerSupervisorQueue::handleExit(QProcess *process)
{
    process->deleteLater();
    if (!m_process || m_process != process)
        return;
    m_heartbeatTimer->stop();
    m_heartbeatProcess = nullptr;
    m_process = nullptr;

    if (m_stopping || !RunnerSupervisionPolicy::shouldRelaunch(m_exitReason))
        return finishStopping();
    if (m_exitReason == RunnerExitReason::crash)
        publish(HelperStatus::State::needsAttention, crashMessage);
    else
        publish(HelperStatus::State::starting);
    scheduleLaunch(m_timing.relaunchDelay);
}

void RunnerSupervisorQueue::stop(Completion completion)
{
    m_stopCompletions.append(std::move(completion));
    m_stopping = true;
    m_exitReason = RunnerExitReason::quit;
    m_retryWorkItem->stop();
    m_heartbeatTimer->stop();
    m_heartbeatProcess = nullptr;

    if (m_process && m_process->state() == QProcess::Running) {
        m_process->terminate();
        QTimer::singleShot(m_timing.killDelay, Qt::PreciseTimer, this,
                           [this, process = QPointer(m_process)] { killIfStillRunning(process); });
        return;
    }
    finishStopping();
}

void RunnerSupervisorQueue::killIfStillRunning(const QPointer<QProcess> &process)
{
    if (process && m_process == process && process->state() == QProcess::Running)
        process->kill();
}

void RunnerSupervisorQueue::finishStopping()
{
    m_process = nullptr;
    publish(HelperStatus::State::stopped);
    const QList<Completion> completions = std::exchange(m_stopCompletions, {});
    for (const Completion &completion : completions)
        completion();
}

void RunnerSupervisorQueue::publish(HelperStatus::State state, const std::optional<QString> &error)
{
    const HelperStatus status(state, QDateTime::currentDateTimeUtc(), error);
    // A status that cannot be written is not retried: the next state change or heartbeat writes again.
    [[maybe_unused]] const Result<void> saved = m_statusStore.save(status);
    m_onStatus(status);
}
