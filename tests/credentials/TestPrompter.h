#pragma once

#include <QByteArray>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QObject>
#include <QVariantMap>

#include <optional>

// Stands in for the desktop's unlock prompt (gnome-keyring's system prompter on the session bus), so no
// prompt ever reaches a real display. Each prompt is answered at once: dismissed, as a user pressing Cancel
// would, or with the keyring's password. It answers on the thread it lives on, so the operation that
// prompts must run on another one.
class TestPrompter : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.gnome.keyring.internal.Prompter")

public:
    // Owns the prompter's name on the session bus.
    bool registerOnSessionBus();

    // The next prompts are answered with this password; without one they are dismissed.
    void setPassword(std::optional<QByteArray> password) { m_password = std::move(password); }
    int promptsShown() const { return m_promptsShown; }

public Q_SLOTS:
    void BeginPrompting(const QDBusObjectPath &callback, const QDBusMessage &message);
    void PerformPrompt(const QDBusObjectPath &callback, const QString &type, const QVariantMap &properties,
                       const QString &exchange, const QDBusMessage &message);
    void StopPrompting(const QDBusObjectPath &callback);

private:
    void answer(const QDBusObjectPath &callback, const QDBusMessage &message, const QString &reply,
                const QString &exchange);

    std::optional<QByteArray> m_password;
    int m_promptsShown = 0;
};
