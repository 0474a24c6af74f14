#pragma once

#include <QDBusConnection>
#include <QDBusContext>
#include <QObject>
#include <QStringList>

// org.kde.StatusNotifierWatcher on the test's private session bus, as a panel runs it, on a connection of
// its own: a host is registered, and every item that registers is kept with the pid of its sender.
class StandInTrayWatcher : public QObject, protected QDBusContext
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierWatcher")
    Q_PROPERTY(bool IsStatusNotifierHostRegistered READ isStatusNotifierHostRegistered)
    Q_PROPERTY(int ProtocolVersion READ protocolVersion)
    Q_PROPERTY(QStringList RegisteredStatusNotifierItems READ registeredStatusNotifierItems)

public:
    struct Item
    {
        QString service;
        qint64 senderPid = 0;
    };

    StandInTrayWatcher();
    ~StandInTrayWatcher() override;

    // Takes the watcher's bus name and object, or gives them up, as a panel that starts or ends.
    void appear();
    void disappear();

    const QList<Item> &items() const { return m_items; }

    bool isStatusNotifierHostRegistered() const { return true; }
    int protocolVersion() const { return 0; }
    QStringList registeredStatusNotifierItems() const;

public Q_SLOTS:
    void RegisterStatusNotifierItem(const QString &service);
    void RegisterStatusNotifierHost(const QString &service);

Q_SIGNALS:
    void StatusNotifierItemRegistered(const QString &service);
    void StatusNotifierHostRegistered();

private:
    QDBusConnection m_bus;
    QList<Item> m_items;
};
