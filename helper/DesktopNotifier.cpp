#include "DesktopNotifier.h"

#include "MenuLog.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>

namespace {

const QString service = QStringLiteral("org.freedesktop.Notifications");
const QString path = QStringLiteral("/org/freedesktop/Notifications");
const QString interface = QStringLiteral("org.freedesktop.Notifications");
const QString defaultAction = QStringLiteral("default");

QDBusMessage call(const QString &method)
{
    return QDBusMessage::createMethodCall(service, path, interface, method);
}

} // namespace

DesktopNotifier::DesktopNotifier(ChosenCallback onChosen, QObject *parent)
    : QObject(parent)
    , m_bus(QDBusConnection::sessionBus())
    , m_onChosen(std::move(onChosen))
{
    m_bus.connect(service, path, interface, QStringLiteral("ActionInvoked"), this, SLOT(actionInvoked(uint, QString)));
    m_bus.connect(service, path, interface, QStringLiteral("ActivationToken"), this,
                  SLOT(activationToken(uint, QString)));
    m_bus.connect(service, path, interface, QStringLiteral("NotificationClosed"), this,
                  SLOT(notificationClosed(uint, uint)));
}

void DesktopNotifier::show(const QString &summary, const QString &body)
{
    m_wanted = true;
    QDBusMessage notify = call(QStringLiteral("Notify"));
    // The desktop entry lets the desktop show the notice as Tarnwick's, with its icon and settings.
    const QVariantMap hints{{QStringLiteral("desktop-entry"), QStringLiteral("tarnwick")},
                            {QStringLiteral("urgency"), QVariant::fromValue(uchar(1))}};
    notify << QStringLiteral("Tarnwick") << m_id << QStringLiteral("tarnwick") << summary << body
           << QStringList{defaultAction, QStringLiteral("Open Tarnwick…")} << hints << int(-1);
    auto *watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(notify), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, &DesktopNotifier::shown);
}

void DesktopNotifier::shown(QDBusPendingCallWatcher *call)
{
    call->deleteLater();
    const QDBusPendingReply<uint> reply = *call;
    if (reply.isError()) {
        qCWarning(lcMenu).noquote() << "The desktop did not show the notification:" << reply.error().message();
        return;
    }
    m_id = reply.value();
    if (!m_wanted)
        withdraw();
}

void DesktopNotifier::withdraw()
{
    m_wanted = false;
    if (m_id != 0)
        close(std::exchange(m_id, 0));
}

void DesktopNotifier::close(uint id)
{
    QDBusMessage closing = call(QStringLiteral("CloseNotification"));
    closing << id;
    m_bus.asyncCall(closing);
}

void DesktopNotifier::activationToken(uint id, const QString &token)
{
    if (id != 0 && id == m_id)
        m_activationToken = token;
}

void DesktopNotifier::actionInvoked(uint id, const QString &actionKey)
{
    if (id == 0 || id != m_id || actionKey != defaultAction)
        return;
    if (m_onChosen)
        m_onChosen(std::exchange(m_activationToken, QString()));
}

void DesktopNotifier::notificationClosed(uint id, uint /*reason*/)
{
    if (id != 0 && id == m_id)
        m_id = 0;
}
