#pragma once

#include <QDBusConnection>
#include <QDBusMessage>
#include <QObject>
#include <QVariantMap>

// org.freedesktop.Notifications on the test's private session bus, on a connection of its own: it keeps
// every notice it is sent and every close, and can play the user choosing a notice.
class StandInNotificationServer : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

public:
    struct Notice
    {
        QString appName;
        QString summary;
        QString body;
        QStringList actions;
        QVariantMap hints;
    };

    StandInNotificationServer()
    {
        if (!m_bus.registerObject(path, this, QDBusConnection::ExportAllSlots) || !m_bus.registerService(service))
            qFatal("the stand-in notification server cannot take the bus name");
    }
    ~StandInNotificationServer() override { QDBusConnection::disconnectFromBus(m_bus.name()); }

    QList<Notice> notices;
    QList<uint> closed;

    // The user chooses notice `id`: the activation token, then the default action.
    void choose(uint id, const QString &activationToken)
    {
        emitSignal(QStringLiteral("ActivationToken"), {id, activationToken});
        emitSignal(QStringLiteral("ActionInvoked"), {id, QStringLiteral("default")});
        emitSignal(QStringLiteral("NotificationClosed"), {id, 2u});
    }

public Q_SLOTS:
    uint Notify(const QString &appName, uint replacesId, const QString &, const QString &summary, const QString &body,
                const QStringList &actions, const QVariantMap &hints, int)
    {
        notices.append(Notice{appName, summary, body, actions, hints});
        return replacesId != 0 ? replacesId : uint(notices.size());
    }
    void CloseNotification(uint id) { closed.append(id); }

private:
    void emitSignal(const QString &name, const QVariantList &arguments)
    {
        QDBusMessage signal = QDBusMessage::createSignal(path, service, name);
        signal.setArguments(arguments);
        m_bus.send(signal);
    }

    static inline const QString service = QStringLiteral("org.freedesktop.Notifications");
    static inline const QString path = QStringLiteral("/org/freedesktop/Notifications");
    QDBusConnection m_bus =
        QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("notification-server"));
};
