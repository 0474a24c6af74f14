#include "StandInNotificationServer.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>

namespace {

const QString service = QStringLiteral("org.freedesktop.Notifications");
const QString path = QStringLiteral("/org/freedesktop/Notifications");

} // namespace

StandInNotificationServer::StandInNotificationServer()
    : m_bus(QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("notification-server")))
{
    if (!m_bus.registerObject(path, this, QDBusConnection::ExportAllSlots) || !m_bus.registerService(service))
        qFatal("the stand-in notification server cannot take the bus name");
}

StandInNotificationServer::~StandInNotificationServer()
{
    m_bus.unregisterService(service);
    m_bus.unregisterObject(path);
    QDBusConnection::disconnectFromBus(m_bus.name());
}

void StandInNotificationServer::choose(uint id, const QString &activationToken)
{
    emitSignal(QStringLiteral("ActivationToken"), {id, activationToken});
    emitSignal(QStringLiteral("ActionInvoked"), {id, QStringLiteral("default")});
    emitSignal(QStringLiteral("NotificationClosed"), {id, 2u});
}

uint StandInNotificationServer::Notify(const QString &appName, uint replacesId, const QString &, const QString &summary,
                                       const QString &body, const QStringList &actions, const QVariantMap &hints, int)
{
    m_notices.append(Notice{appName, replacesId, summary, body, actions, hints});
    return replacesId != 0 ? replacesId : uint(m_notices.size());
}

void StandInNotificationServer::CloseNotification(uint id)
{
    m_closed.append(id);
}

void StandInNotificationServer::emitSignal(const QString &name, const QVariantList &arguments)
{
    QDBusMessage signal = QDBusMessage::createSignal(path, service, name);
    signal.setArguments(arguments);
    m_bus.send(signal);
}
