#pragma once

#include <QByteArray>
#include <QString>

// What a second start of the setup application hands the running one, as one line: the tarnwick: URL
// it was given (or nothing, to bring the window forward) and the activation token its launcher gave it,
// which lets the running window come to the front (a compositor or window manager refuses a program
// that merely asks).
struct InstanceMessage
{
    QString url;
    QByteArray xdgActivationToken; // Wayland: XDG_ACTIVATION_TOKEN
    QByteArray desktopStartupId;   // X11: DESKTOP_STARTUP_ID

    // The tokens come from this process's environment; read it before the application object exists,
    // which takes DESKTOP_STARTUP_ID for itself.
    static InstanceMessage fromEnvironment(QString url);

    QString encoded() const;
    // An unreadable line gives an empty message: the window only comes forward.
    static InstanceMessage decoded(const QString &line);

    friend bool operator==(const InstanceMessage &, const InstanceMessage &) = default;
};
