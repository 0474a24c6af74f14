#include "SlowSecretService.h"

#include <QTimer>

namespace {
const QString busName = QStringLiteral("com.tarnwick.test.SlowSecrets");
}

SlowSecretService::SlowSecretService(std::chrono::milliseconds delay)
    : m_delay(delay)
    , m_connection(QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("slow-secret-service")))
    , m_registered(m_connection.registerVirtualObject(QStringLiteral("/"), this, QDBusConnection::SubPath)
                   && m_connection.registerService(busName))
{
    if (m_registered)
        qputenv("SECRET_SERVICE_BUS_NAME", busName.toUtf8());
}

SlowSecretService::~SlowSecretService()
{
    qunsetenv("SECRET_SERVICE_BUS_NAME");
    m_connection.unregisterService(busName);
    m_connection.unregisterObject(QStringLiteral("/"), QDBusConnection::UnregisterTree);
    QDBusConnection::disconnectFromBus(m_connection.name());
}

bool SlowSecretService::handleMessage(const QDBusMessage &message, const QDBusConnection &)
{
    message.setDelayedReply(true);
    QTimer::singleShot(m_delay, this, [this, message] {
        ++m_answered;
        m_connection.send(message.createErrorReply(QStringLiteral("org.freedesktop.DBus.Error.Failed"),
                                                   QStringLiteral("The keyring is still waiting to be unlocked.")));
    });
    return true;
}
