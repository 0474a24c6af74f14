#include "HelperApplication.h"

#include <QPointer>

HelperApplication::HelperApplication(HelperParts parts, QObject *parent)
    : QObject(parent)
    , m_parts(std::move(parts))
{
}

HelperApplication::~HelperApplication() = default;

void HelperApplication::start()
{
    m_supervisor = std::make_unique<RunnerSupervisor>(m_parts);
    m_menuController = std::make_unique<MenuController>(m_parts);
    connect(m_supervisor.get(), &RunnerSupervisor::published, m_menuController.get(), &MenuController::update);
    connect(m_menuController.get(), &MenuController::quitChosen, this, &HelperApplication::quit);
    m_supervisor->start();
}

void HelperApplication::quit()
{
    if (m_quitting)
        return;
    m_quitting = true;
    stopSupervisor();
}

void HelperApplication::requestTermination()
{
    // Before start-up there is nothing to stop; once the stop is done nothing is left.
    if (!m_supervisor || m_stopped)
        return Q_EMIT terminationConfirmed();
    // A request while a quit is under way waits for the same stop, which ends in terminationConfirmed
    // within the kill delay: exiting at once could leave the runner alive and the status unwritten.
    if (m_quitting)
        return;
    m_quitting = true;
    stopSupervisor();
}

void HelperApplication::stopSupervisor()
{
    m_supervisor->stop([self = QPointer(this)] {
        if (!self)
            return;
        self->m_stopped = true;
        Q_EMIT self->terminationConfirmed();
    });
}
