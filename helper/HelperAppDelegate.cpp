#include "HelperAppDelegate.h"

#include <QPointer>

HelperAppDelegate::HelperAppDelegate(RunnerSupervisorTiming timing, MenuControllerOptions menuOptions,
                                     QObject *parent)
    : QObject(parent)
    , m_timing(timing)
    , m_menuOptions(std::move(menuOptions))
{
}

// The menu goes first: it may still refer to the supervisor.
HelperAppDelegate::~HelperAppDelegate()
{
    m_menuController.reset();
    m_supervisor.reset();
}

void HelperAppDelegate::applicationDidFinishLaunching()
{
    m_supervisor = std::make_unique<RunnerSupervisor>(
        [self = QPointer(this)](const HelperStatus &status) {
            if (self && self->m_menuController)
                self->m_menuController->update(status);
        },
        m_timing);
    m_menuController = std::make_unique<MenuController>(m_supervisor.get(), m_menuOptions);
    m_menuController->setOnQuit([self = QPointer(this)] {
        if (self)
            self->quit();
    });
    m_supervisor->start();
}

void HelperAppDelegate::quit()
{
    if (m_quitting)
        return;
    m_quitting = true;
    stopSupervisor();
}

HelperAppDelegate::TerminateReply HelperAppDelegate::applicationShouldTerminate()
{
    // Before launching has finished there is nothing to stop; once the stop is done nothing is left.
    if (!m_supervisor || m_stopped)
        return TerminateReply::now;
    // A request while a quit is under way waits for the same stop, which ends in terminationConfirmed
    // within the kill delay: exiting at once could leave the runner alive and the status unwritten.
    if (m_quitting)
        return TerminateReply::later;
    m_quitting = true;
    stopSupervisor();
    return TerminateReply::later;
}

void HelperAppDelegate::stopSupervisor()
{
    m_supervisor->stop([self = QPointer(this)] {
        if (!self)
            return;
        self->m_stopped = true;
        Q_EMIT self->terminationConfirmed();
    });
}
