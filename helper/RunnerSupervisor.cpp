#include "RunnerSupervisor.h"

#include "RunnerSupervisorQueue.h"

#include <QCoreApplication>
#include <QPointer>

RunnerSupervisor::RunnerSupervisor(StatusCallback onStatus, RunnerSupervisorTiming timing, QObject *parent)
    : QObject(parent)
    , m_onStatus(std::move(onStatus))
{
    // The queue holds this object only as the receiver of posted calls: the thread ends in the destructor
    // before this object goes, and calls still queued for a deleted receiver are dropped.
    m_queue = new RunnerSupervisorQueue(
        [this](const HelperStatus &status) {
            QMetaObject::invokeMethod(this, [this, status] { deliver(status); }, Qt::QueuedConnection);
        },
        timing);
    m_thread.setObjectName(QStringLiteral("com.tarnwick.runner-supervisor"));
    m_queue->moveToThread(&m_thread);
    connect(&m_thread, &QThread::started, m_queue, &RunnerSupervisorQueue::prepareThread);
    connect(&m_thread, &QThread::finished, m_queue, &QObject::deleteLater);
    m_thread.start();
}

RunnerSupervisor::~RunnerSupervisor()
{
    m_thread.quit();
    m_thread.wait();
}

void RunnerSupervisor::start()
{
    QMetaObject::invokeMethod(m_queue, &RunnerSupervisorQueue::start, Qt::QueuedConnection);
}

void RunnerSupervisor::stop(std::function<void()> completion)
{
    // Completions go to the application object, which outlives every supervisor, so a completion is
    // delivered even when this supervisor is gone by the time the runner has ended.
    auto onMainThread = [completion = std::move(completion)] {
        QMetaObject::invokeMethod(QCoreApplication::instance(), completion, Qt::QueuedConnection);
    };
    QMetaObject::invokeMethod(
        m_queue, [queue = QPointer(m_queue), onMainThread] {
            if (queue)
                queue->stop(onMainThread);
            else
                onMainThread();
        },
        Qt::QueuedConnection);
}

void RunnerSupervisor::deliver(const HelperStatus &status)
{
    if (m_onStatus)
        m_onStatus(status);
}
