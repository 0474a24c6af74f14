#pragma once

#include "platform/InstanceMessage.h"

#include <QObject>

#include <memory>

class AppModel;
struct AppModelParts;
class DesktopActions;
class QUrl;
class SystemBrowserSignIn;
class WindowLoader;

// The setup application: one model for the program's lifetime and one window over it. Closing the
// window keeps the program running; starting it again, or a tarnwick: URL, brings the window back.
class TarnwickApp : public QObject
{
    Q_OBJECT
public:
    TarnwickApp();
    ~TarnwickApp() override;

    // The model's parts as the program puts them together: the system's stores and adapters, the
    // service at `service`, and sign-in links taken through `signIn`.
    static AppModelParts systemParts(const QUrl &service, std::unique_ptr<SystemBrowserSignIn> signIn);

    // False when the window could not be loaded.
    bool showWindow();
    // A message from another start of the program: a tarnwick: URL for the open sign-in, or nothing.
    // Either way the window comes to the front, with the activation token that start was given.
    void handleMessage(const InstanceMessage &message);

private:
    void bringToFront(const InstanceMessage &activation);

    SystemBrowserSignIn *m_signIn = nullptr;
    std::unique_ptr<AppModel> m_model;
    std::unique_ptr<DesktopActions> m_desktop;
    std::unique_ptr<WindowLoader> m_loader;
};
