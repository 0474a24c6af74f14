#pragma once

#include <QString>

#include <memory>

class AppModel;
class DesktopActions;
class QQuickWindow;
class WindowEngine;

// Loads the setup window over a model: the Tarnwick QML module in an engine of its own that serves the
// model and the desktop actions to it.
class WindowLoader
{
public:
    WindowLoader(AppModel &model, DesktopActions &desktop, const QString &logoMarkPath);
    ~WindowLoader();

    // How the window's QML is drawn, for every window the process makes from now on; the constructor
    // calls it, and so must anything that shows the module's QML without a loader.
    static void chooseRendering();

    // The window, or nothing when the QML failed to load (a build mistake).
    QQuickWindow *window() const;

private:
    std::unique_ptr<WindowEngine> m_engine;
};
