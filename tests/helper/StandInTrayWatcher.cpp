#include "StandInTrayWatcher.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>

namespace {

const QString service = QStringLiteral("org.kde.StatusNotifierWatcher");
const QString path = QStringLiteral("/StatusNotifierWatcher");

} // namespace

StandInTrayWatcher::StandInTrayWatcher()
    : m_bus(QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("tray-watcher")))
{
}

StandInTrayWatcher::~StandInTrayWatcher()
{
    disappear();
    QDBusConnection::disconnectFromBus(m_bus.name());
}

void StandInTrayWatcher::appear()
{
    const auto exported =
        QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllSignals | QDBusConnection::ExportAllProperties;
    if (!m_bus.registerObject(path, this, exported) || !m_bus.registerService(service))
        qFatal("the stand-in tray watcher cannot take the bus name");
}

void StandInTrayWatcher::disappear()
{
    m_bus.unregisterService(service);
    m_bus.unregisterObject(path);
}

void StandInTrayWatcher::RegisterStatusNotifierItem(const QString &itemService)
{
    const qint64 pid = m_bus.interface()->servicePid(message().service()).value();
    m_items.append(Item{itemService, pid});
    Q_EMIT StatusNotifierItemRegistered(itemService);
}

void StandInTrayWatcher::registerHost()
{
    m_hostRegistered = true;
    Q_EMIT StatusNotifierHostRegistered();
}

void StandInTrayWatcher::RegisterStatusNotifierHost(const QString &)
{
    registerHost();
}
