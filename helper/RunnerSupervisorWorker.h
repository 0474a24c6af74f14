#pragma once

#include "HelperParts.h"
#include "status/HelperStatus.h"
#include "status/StatusStore.h"
#include "supervision/RunnerExitReason.h"

#include <QDateTime>
#include <QList>
#include <QObject>
#include <QPointer>

#include <functional>
#include <optional>

class QProcess;
class QTimer;

// The state of RunnerSupervisor and everything that acts on it: it owns the runner's process and the
// supervision's timers. It lives on the supervision thread and is only ever called there (RunnerSupervisor
// posts its calls), so it needs no lock.
class RunnerSupervisorWorker : public QObject
{
    Q_OBJECT

public:
    using StatusSink = std::function<void(const HelperStatus &)>;
    using Completion = std::function<void()>;

    // `onStatus` is called with every status, on this worker's thread.
    RunnerSupervisorWorker(const HelperParts &parts, StatusSink onStatus);
    ~RunnerSupervisorWorker() override;

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

    const std::shared_ptr<const CredentialReading> m_credentialReader;
    const std::shared_ptr<ConfigStoring> m_configStore;
    const StatusStore m_statusStore;
    const QString m_configPath;
    const QString m_applicationSupportDirectory;
    const QString m_mainAppBundle;
    const RunnerSupervisorTiming m_timing;
    const StatusSink m_onStatus;

    // The last status written, so a heartbeat that only renews its time is written without a flush.
    std::optional<HelperStatus> m_lastPublished;
    QPointer<QProcess> m_process;
    QTimer *m_heartbeatTimer = nullptr;
    // The one pending launch: starting it again replaces the launch it was waiting for.
    QTimer *m_relaunchTimer = nullptr;
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
