#pragma once

#include <QQmlApplicationEngine>

#include <memory>

class AppModel;
class DesktopActions;
class QQuickWindow;

// Loads the setup window over a model: the QML engine with the symbol item and the two objects the views
// see ("appModel", "desktop").
class WindowLoader
{
public:
    WindowLoader(AppModel &model, DesktopActions &desktop, const QString &logoMarkPath);
    ~WindowLoader();

    // The window, or nothing when the QML failed to load (a build mistake).
    QQuickWindow *window() const;
    QQmlApplicationEngine &engine() { return *m_engine; }

private:
    std::unique_ptr<QQmlApplicationEngine> m_engine;
};
