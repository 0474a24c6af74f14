#pragma once

#include <QDBusConnection>
#include <QDBusServiceWatcher>
#include <QObject>

class QDBusPendingCallWatcher;

// Tells when the session has a tray that shows status items: a StatusNotifierWatcher on the session bus
// with a host (a panel) registered with it. At login the helper may start before the panel, and a panel
// may restart; every time a host becomes available `hostAvailable` is emitted.
//
// Qt decides once per process whether its tray icons go through a StatusNotifierWatcher, at the first
// QSystemTrayIcon, and only with a host already registered; so the helper makes its tray icon only
// after this has said so.
class TrayHostWatcher : public QObject
{
    Q_OBJECT

public:
    explicit TrayHostWatcher(QObject *parent = nullptr);

Q_SIGNALS:
    void hostAvailable();

private Q_SLOTS:
    // The watcher's StatusNotifierHostRegistered signal, connected by name.
    void hostRegistered();

private:
    void askWhetherAHostIsRegistered();
    void answered(QDBusPendingCallWatcher *call);

    QDBusConnection m_bus;
    QDBusServiceWatcher m_serviceWatcher;
};
