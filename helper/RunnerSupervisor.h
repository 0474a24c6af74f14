#pragma once

#include "HelperParts.h"
#include "status/HelperStatus.h"

#include <QObject>
#include <QThread>

#include <functional>

class RunnerSupervisorWorker;

// Keeps the runner alive for as long as the helper runs: launches it with the device credential on its
// standard input, watches it with a heartbeat, relaunches it after a crash or a configuration change,
// stops it when the helper quits, and publishes every change as a HelperStatus to the status file and
// through `published`.
//
// All supervision runs on a thread of its own ("com.tarnwick.runner-supervisor"), in a
// RunnerSupervisorWorker. The public calls below belong to the main thread and return at once;
// `published` and every stop completion come on the main thread, in publishing order.
class RunnerSupervisor : public QObject
{
    Q_OBJECT

public:
    explicit RunnerSupervisor(const HelperParts &parts, QObject *parent = nullptr);
    // Ends the supervision thread. A runner still running then is killed with its process object; stop
    // first for an orderly end.
    ~RunnerSupervisor() override;

    // Lets the supervisor launch the runner.
    void start();
    // Stops the runner (SIGTERM, SIGKILL after the kill delay if it is still alive) and supervision.
    // `completion` runs on the main thread once the runner has ended and `stopped` has been published;
    // completions of several calls run in the order of the calls.
    void stop(std::function<void()> completion);

Q_SIGNALS:
    void published(const HelperStatus &status);

private:
    QThread m_thread;
    RunnerSupervisorWorker *m_worker = nullptr;
};
