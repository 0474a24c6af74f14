#pragma once

#include <QQmlApplicationEngine>

class AppModel;
class DesktopActions;

// The setup window's QML engine. It hands the window the model and the desktop actions it was made with,
// as the singletons AppModel and Desktop; every engine has its own, so windows over different models
// (as in the tests) never share one.
class WindowEngine : public QQmlApplicationEngine
{
    Q_OBJECT
public:
    WindowEngine(AppModel &model, DesktopActions &desktop);

    // The objects of `engine`, left in C++'s ownership; null, which QML reports as a singleton that could
    // not be made, when `engine` is not a window's.
    static AppModel *modelOf(QQmlEngine *engine);
    static DesktopActions *desktopOf(QQmlEngine *engine);

private:
    AppModel &m_model;
    DesktopActions &m_desktop;
};
