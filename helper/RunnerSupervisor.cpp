#include "RunnerSupervisor.h"

#include "RunnerSupervisorWorker.h"

#include <QCoreApplication>
#include <QPointer>

RunnerSupervisor::RunnerSupervisor(const HelperParts &parts, QObject *parent)
    : QObject(parent)
{
    // The worker holds this object only as the receiver of posted calls: the thread ends in the destructor
    // before this object goes, and calls still queued for a deleted receiver are dropped.
    m_worker = new RunnerSupervisorWorker(parts, [this](const HelperStatus &status) {
        QMetaObject::invokeMethod(
            this, [this, status] { Q_EMIT published(status); }, Qt::QueuedConnection);
    });
    m_thread.setObjectName(QStringLiteral("com.tarnwick.runner-supervisor"));
    m_worker->moveToThread(&m_thread);
    connect(&m_thread, &QThread::started, m_worker, &RunnerSupervisorWorker::prepareThread);
    connect(&m_thread, &QThread::finished, m_worker, &QObject::deleteLater);
    m_thread.start();
}

RunnerSupervisor::~RunnerSupervisor()
{
    m_thread.quit();
    m_thread.wait();
}

void RunnerSupervisor::start()
{
    QMetaObject::invokeMethod(m_worker, &RunnerSupervisorWorker::start, Qt::QueuedConnection);
}

void RunnerSupervisor::stop(std::function<void()> completion)
{
    // Completions go to the application object, which outlives every supervisor, so a completion is
    // delivered even when this supervisor is gone by the time the runner has ended.
    auto onMainThread = [completion = std::move(completion)] {
        QMetaObject::invokeMethod(QCoreApplication::instance(), completion, Qt::QueuedConnection);
    };
    QMetaObject::invokeMethod(
        m_worker,
        [worker = QPointer(m_worker), onMainThread] {
            if (worker)
                worker->stop(onMainThread);
            else
                onMainThread();
        },
        Qt::QueuedConnection);
}
