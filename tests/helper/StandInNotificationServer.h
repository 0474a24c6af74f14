#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QStringList>
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
        uint replacesId = 0;
        QString summary;
        QString body;
        QStringList actions;
        QVariantMap hints;
    };

    StandInNotificationServer();
    ~StandInNotificationServer() override;

    const QList<Notice> &notices() const { return m_notices; }
    const QList<uint> &closed() const { return m_closed; }
    // The user chooses notice `id`: the activation token, then the default action.
    void choose(uint id, const QString &activationToken);

public Q_SLOTS:
    uint Notify(const QString &appName, uint replacesId, const QString &appIcon, const QString &summary,
                const QString &body, const QStringList &actions, const QVariantMap &hints, int expireTimeout);
    void CloseNotification(uint id);

private:
    void emitSignal(const QString &name, const QVariantList &arguments);

    QDBusConnection m_bus;
    QList<Notice> m_notices;
    QList<uint> m_closed;
};
