#pragma once

#include "RunnerSupervisorTiming.h"
#include "config/FileConfigStore.h"
#include "credentials/SystemCredentialStore.h"
#include "status/HelperStatus.h"
#include "status/StatusStore.h"
#include "supervision/RunnerExitReason.h"

#include <QDateTime>
#include <QList>
#include <QObject>
#include <QPointer>

#include <functional>
#include <utility>
#include <optional>

class QProcess;
class QTimer;

// The state of RunnerSupervisor and everything that acts on it. It lives on the supervision thread and
// is only ever called there (RunnerSupervisor posts its calls), so it needs no lock.
class RunnerSupervisorQueue : public QObject
{
    Q_OBJECT

public:
    using StatusSink = std::function<void(const HelperStatus &)>;
    using Completion = std::function<void()>;

    RunnerSupervisorQueue(StatusSink publishToMainThread, RunnerSupervisorTiming timing);
    ~RunnerSupervisorQueue() override;

    // Run once on the supervision thread when it starts.
    void prepareThread();

    void start();
    void stop(Completion completion);

private:
    void scheduleLaunch(std::chrono::milliseconds delay);
    void launch();
    void reportLaunchFailure(const QString &cause);
    void failLaunch(const QString &cause);
    QProcess *prepareProcess(const QString &executable, const QString &script);
    void watchExit(QProcess *process);
    bool handOverCredential(QProcess *process, const QString &credential);
    void startHeartbeat(QProcess *process, const std::optional<QDateTime> &configDate);
    void heartbeat();
    void handleExit(QProcess *process);
    void killIfStillRunning(const QPointer<QProcess> &process);
    void publish(HelperStatus::State state, const std::optional<QString> &error = std::nullopt);
    void finishStopping();

    const SystemCredentialStore m_credentialStore;
    FileConfigStore m_configStore;
    const StatusStore m_statusStore;
    const StatusSink m_onStatus;
    const RunnerSupervisorTiming m_timing;

    // The last status written, so a heartbeat that only renews its time is written without a flush.
    std::optional<HelperStatus> m_lastPublished;
    QPointer<QProcess> m_process;
    QTimer *m_heartbeatTimer = nullptr;
    QTimer *m_retryWorkItem = nullptr;
    bool m_stopping = true;
    RunnerExitReason m_exitReason = RunnerExitReason::crash;
    QList<Completion> m_stopCompletions;
    QString m_lastLaunchFailure;
    bool m_statusWriteFailing = false;

    // What the running heartbeat watches: the process it was started for and the configuration file's
    // modification date at that launch.
    QPointer<QProcess> m_heartbeatProcess;
    std::optional<QDateTime> m_launchConfigDate;
};
