#pragma once

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusContext>
#include <QObject>

// org.kde.StatusNotifierWatcher on the test's private session bus, as a desktop runs it, on a connection
// of its own: it may appear before a host (the panel) registers with it, and it keeps the pid of the
// sender of every item that registers.
class StandInTrayWatcher : public QObject, protected QDBusContext
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierWatcher")
    Q_PROPERTY(bool IsStatusNotifierHostRegistered MEMBER m_hostRegistered)

public:
    ~StandInTrayWatcher() override
    {
        disappear();
        QDBusConnection::disconnectFromBus(m_bus.name());
    }

    QList<qint64> itemSenders;

    // Takes the watcher's bus name and object, or gives them up, as a desktop service that starts or ends.
    void appear()
    {
        const auto exported =
            QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllSignals | QDBusConnection::ExportAllProperties;
        if (!m_bus.registerObject(path, this, exported) || !m_bus.registerService(service))
            qFatal("the stand-in tray watcher cannot take the bus name");
    }
    void disappear()
    {
        m_bus.unregisterService(service);
        m_bus.unregisterObject(path);
    }

public Q_SLOTS:
    void RegisterStatusNotifierItem(const QString &)
    {
        itemSenders.append(m_bus.interface()->servicePid(message().service()).value());
    }
    // A panel registers as the host that shows the items.
    void RegisterStatusNotifierHost(const QString & = {})
    {
        m_hostRegistered = true;
        Q_EMIT StatusNotifierHostRegistered();
    }

Q_SIGNALS:
    void StatusNotifierHostRegistered();

private:
    static inline const QString service = QStringLiteral("org.kde.StatusNotifierWatcher");
    static inline const QString path = QStringLiteral("/StatusNotifierWatcher");
    QDBusConnection m_bus = QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("tray-watcher"));
    bool m_hostRegistered = false;
};
