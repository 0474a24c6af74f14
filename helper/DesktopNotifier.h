#pragma once

#include "DesktopNotifying.h"

#include <QDBusConnection>
#include <QObject>

#include <functional>

class QDBusPendingCallWatcher;

// The desktop's notifications (org.freedesktop.Notifications on the session bus). Choosing a notice (its
// default action, "Open Tarnwick…") calls `onChosen` with the activation token the notification server
// handed over for it, empty when it gave none. Without a notification server nothing shows.
class DesktopNotifier : public QObject, public DesktopNotifying
{
    Q_OBJECT

public:
    using ChosenCallback = std::function<void(const QString &activationToken)>;

    explicit DesktopNotifier(ChosenCallback onChosen, QObject *parent = nullptr);

    void show(const QString &summary, const QString &body) override;
    void withdraw() override;

private Q_SLOTS:
    // The server's signals, connected by name.
    void actionInvoked(uint id, const QString &actionKey);
    void activationToken(uint id, const QString &token);
    void notificationClosed(uint id, uint reason);

private:
    void shown(QDBusPendingCallWatcher *call);
    void close(uint id);

    QDBusConnection m_bus;
    ChosenCallback m_onChosen;
    // The server's number for the notice that is out, 0 for none.
    uint m_id = 0;
    // Whether a notice should be out: a withdraw can come before the server has answered the show.
    bool m_wanted = false;
    QString m_activationToken;
};
