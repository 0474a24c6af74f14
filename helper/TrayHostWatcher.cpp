#include "TrayHostWatcher.h"

#include "MenuLog.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusVariant>

namespace {

const QString watcherService = QStringLiteral("org.kde.StatusNotifierWatcher");
const QString watcherPath = QStringLiteral("/StatusNotifierWatcher");

} // namespace

TrayHostWatcher::TrayHostWatcher(QObject *parent)
    : QObject(parent)
    , m_bus(QDBusConnection::sessionBus())
    , m_serviceWatcher(watcherService, m_bus, QDBusServiceWatcher::WatchForRegistration)
{
    connect(&m_serviceWatcher, &QDBusServiceWatcher::serviceRegistered, this,
            &TrayHostWatcher::askWhetherAHostIsRegistered);
    m_bus.connect(watcherService, watcherPath, watcherService, QStringLiteral("StatusNotifierHostRegistered"), this,
                  SLOT(hostRegistered()));
    askWhetherAHostIsRegistered();
}

void TrayHostWatcher::askWhetherAHostIsRegistered()
{
    if (!m_bus.isConnected())
        return;
    QDBusMessage get = QDBusMessage::createMethodCall(
        watcherService, watcherPath, QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
    get << watcherService << QStringLiteral("IsStatusNotifierHostRegistered");
    // Ask only a watcher that runs; never have the bus start one.
    get.setAutoStartService(false);
    auto *call = new QDBusPendingCallWatcher(m_bus.asyncCall(get), this);
    connect(call, &QDBusPendingCallWatcher::finished, this, &TrayHostWatcher::answered);
}

void TrayHostWatcher::answered(QDBusPendingCallWatcher *call)
{
    call->deleteLater();
    // No watcher yet answers ServiceUnknown: wait for one to register.
    const QDBusPendingReply<QDBusVariant> reply = *call;
    if (!reply.isError() && reply.value().variant().toBool())
        Q_EMIT hostAvailable();
    else
        qCInfo(lcMenu) << "No tray to show the status item in yet; waiting for one";
}

void TrayHostWatcher::hostRegistered()
{
    Q_EMIT hostAvailable();
}
