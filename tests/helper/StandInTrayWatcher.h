#pragma once

#include <QDBusConnection>
#include <QDBusContext>
#include <QObject>
#include <QStringList>

// org.kde.StatusNotifierWatcher on the test's private session bus, as a desktop runs it, on a connection
// of its own: it may appear before a host (the panel) registers with it, and it keeps every item that
// registers with the pid of its sender.
class StandInTrayWatcher : public QObject, protected QDBusContext
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierWatcher")
    Q_PROPERTY(bool IsStatusNotifierHostRegistered READ isStatusNotifierHostRegistered)

public:
    struct Item
    {
        QString service;
        qint64 senderPid = 0;
    };

    StandInTrayWatcher();
    ~StandInTrayWatcher() override;

    // Takes the watcher's bus name and object, or gives them up, as a desktop service that starts or ends.
    void appear();
    void disappear();
    // A panel registers as the host that shows the items.
    void registerHost();

    const QList<Item> &items() const { return m_items; }

    bool isStatusNotifierHostRegistered() const { return m_hostRegistered; }

public Q_SLOTS:
    void RegisterStatusNotifierItem(const QString &service);
    void RegisterStatusNotifierHost(const QString &service);

Q_SIGNALS:
    void StatusNotifierItemRegistered(const QString &service);
    void StatusNotifierHostRegistered();

private:
    QDBusConnection m_bus;
    QList<Item> m_items;
    bool m_hostRegistered = false;
};
