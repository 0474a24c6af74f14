#include "TestPrompter.h"

#include <QDBusConnection>
#include <QTimer>

#define GCR_API_SUBJECT_TO_CHANGE
#include <gcr/gcr-base.h>

namespace {

const QString callbackInterface = QStringLiteral("org.gnome.keyring.internal.Prompter.Callback");

// The password travels encrypted, in gcr's secret exchange; the keyring's exchange message comes first.
QString encryptedPassword(const QString &keyringExchange, const QByteArray &password)
{
    GcrSecretExchange *exchange = gcr_secret_exchange_new(nullptr);
    QString message;
    if (gcr_secret_exchange_receive(exchange, keyringExchange.toUtf8().constData())) {
        gchar *sent = gcr_secret_exchange_send(exchange, password.constData(), password.size());
        message = QString::fromUtf8(sent);
        g_free(sent);
    }
    g_object_unref(exchange);
    return message;
}

}

bool TestPrompter::registerOnSessionBus()
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    return bus.registerObject(QStringLiteral("/org/gnome/keyring/Prompter"), this, QDBusConnection::ExportAllSlots)
        && bus.registerService(QStringLiteral("org.gnome.keyring.SystemPrompter"));
}

void TestPrompter::BeginPrompting(const QDBusObjectPath &callback, const QDBusMessage &message)
{
    ++m_promptsShown;
    answer(callback, message, QString(), QString());
}

void TestPrompter::PerformPrompt(const QDBusObjectPath &callback, const QString &type, const QVariantMap &,
                                 const QString &exchange, const QDBusMessage &message)
{
    if (type == u"password" && m_password)
        answer(callback, message, QStringLiteral("yes"), encryptedPassword(exchange, *m_password));
    else
        answer(callback, message, QStringLiteral("no"), QString());
}

void TestPrompter::StopPrompting(const QDBusObjectPath &)
{
}

void TestPrompter::answer(const QDBusObjectPath &callback, const QDBusMessage &message, const QString &reply,
                          const QString &exchange)
{
    QDBusMessage call = QDBusMessage::createMethodCall(message.service(), callback.path(), callbackInterface,
                                                       QStringLiteral("PromptReady"));
    call.setArguments({reply, QVariant::fromValue(QVariantMap()), exchange});
    // The keyring listens for the answer only once the method it called has returned.
    QTimer::singleShot(0, this, [call] { QDBusConnection::sessionBus().send(call); });
}
