#pragma once

#include "HelperParts.h"
#include "MenuController.h"
#include "RunnerSupervisor.h"

#include <QObject>

#include <memory>

// Builds the helper at start-up and owns its orderly end: whatever asks the helper to quit (the menu, a
// signal, the session), the runner is stopped and `stopped` published before `terminationConfirmed`.
class HelperApplication : public QObject
{
    Q_OBJECT

public:
    explicit HelperApplication(HelperParts parts, QObject *parent = nullptr);
    ~HelperApplication() override;

    // Creates the supervisor and the menu, wires them, and starts the supervisor.
    void start();
    // The menu's Quit.
    void quit();
    // A request to end the helper from outside (a signal, the session): confirmed at once when there is
    // no runner to stop, else once the runner has stopped.
    void requestTermination();

Q_SIGNALS:
    // Nothing is left to stop: the helper may exit now.
    void terminationConfirmed();

private:
    void stopSupervisor();

    HelperParts m_parts;
    std::unique_ptr<RunnerSupervisor> m_supervisor;
    std::unique_ptr<MenuController> m_menuController;
    bool m_quitting = false;
    bool m_stopped = false;
};
