#pragma once

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVirtualObject>

#include <chrono>

// A Secret Service that takes its time: on the test's session bus under a name of its own, it answers
// every call only after `delay`, and then with a failure, as a service stuck behind an unlock prompt
// would. While it lives, libsecret is pointed at it (SECRET_SERVICE_BUS_NAME). It answers from this
// thread's event loop, so a caller that blocks this thread would wait for ever.
class SlowSecretService final : public QDBusVirtualObject
{
    Q_OBJECT
public:
    explicit SlowSecretService(std::chrono::milliseconds delay);
    ~SlowSecretService() override;

    bool isRegistered() const { return m_registered; }
    int callsAnswered() const { return m_answered; }

    bool handleMessage(const QDBusMessage &message, const QDBusConnection &connection) override;
    QString introspect(const QString &) const override { return {}; }

private:
    std::chrono::milliseconds m_delay;
    QDBusConnection m_connection;
    bool m_registered;
    int m_answered = 0;
};
