#pragma once

#include "MenuController.h"
#include "RunnerSupervisor.h"

#include <QObject>

#include <memory>

// Builds the helper when launching has finished and owns its orderly end: whatever asks the helper to
// quit (the menu, a signal, the session), the runner is stopped and `stopped` published first.
class HelperAppDelegate : public QObject
{
    Q_OBJECT

public:
    enum class TerminateReply { now, later };

    explicit HelperAppDelegate(RunnerSupervisorTiming timing = {}, MenuControllerOptions menuOptions = {},
                               QObject *parent = nullptr);
    ~HelperAppDelegate() override;

    // Creates the supervisor and the menu, wires them, and starts the supervisor.
    void applicationDidFinishLaunching();
    // The menu's Quit.
    void quit();
    // A request to end the helper from outside (a signal, the session). `later` means that
    // `terminationConfirmed` follows once the runner has stopped.
    TerminateReply applicationShouldTerminate();

    RunnerSupervisor *supervisor() const { return m_supervisor.get(); }
    MenuController *menuController() const { return m_menuController.get(); }
    bool isQuitting() const { return m_quitting; }

Q_SIGNALS:
    // The runner has stopped and `stopped` is published: the helper may exit now.
    void terminationConfirmed();

private:
    void stopSupervisor();

    std::unique_ptr<RunnerSupervisor> m_supervisor;
    std::unique_ptr<MenuController> m_menuController;
    bool m_quitting = false;
    bool m_stopped = false;

    RunnerSupervisorTiming m_timing;
    MenuControllerOptions m_menuOptions;
};
