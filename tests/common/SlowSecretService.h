#pragma once

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVirtualObject>
#include <QTimer>

#include <chrono>

// A Secret Service that takes its time: on the test's session bus under a name of its own, it answers
// every call only after `delay`, and then with a failure, as a service stuck behind an unlock prompt
// would. While it lives, libsecret is pointed at it (SECRET_SERVICE_BUS_NAME). It answers from this
// thread's event loop, so a caller that blocks this thread would wait for ever.
class SlowSecretService final : public QDBusVirtualObject
{
public:
    explicit SlowSecretService(std::chrono::milliseconds delay)
        : m_delay(delay)
    {
        if (m_connection.registerVirtualObject(QStringLiteral("/"), this, QDBusConnection::SubPath)
            && m_connection.registerService(busName))
            qputenv("SECRET_SERVICE_BUS_NAME", busName.toUtf8());
    }
    ~SlowSecretService() override
    {
        qunsetenv("SECRET_SERVICE_BUS_NAME");
        m_connection.unregisterObject(QStringLiteral("/"), QDBusConnection::UnregisterTree);
        QDBusConnection::disconnectFromBus(m_connection.name());
    }

    int callsAnswered() const { return m_answered; }

    bool handleMessage(const QDBusMessage &message, const QDBusConnection &) override
    {
        message.setDelayedReply(true);
        QTimer::singleShot(m_delay, this, [this, message] {
            ++m_answered;
            m_connection.send(message.createErrorReply(QStringLiteral("org.freedesktop.DBus.Error.Failed"),
                                                       QStringLiteral("The keyring is still waiting to be unlocked.")));
        });
        return true;
    }
    QString introspect(const QString &) const override { return {}; }

private:
    static inline const QString busName = QStringLiteral("com.tarnwick.test.SlowSecrets");
    std::chrono::milliseconds m_delay;
    QDBusConnection m_connection =
        QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("slow-secret-service"));
    int m_answered = 0;
};
