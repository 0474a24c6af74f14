#include "TestKeyring.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QProcess>
#include <QTest>

#include <libsecret/secret.h>

namespace {

const SecretSchema credentialSchema = [] {
    SecretSchema schema{};
    schema.name = "org.freedesktop.Secret.Generic";
    schema.flags = SECRET_SCHEMA_DONT_MATCH_NAME;
    schema.attributes[0] = {"service", SECRET_SCHEMA_ATTRIBUTE_STRING};
    schema.attributes[1] = {"account", SECRET_SCHEMA_ATTRIBUTE_STRING};
    return schema;
}();

// A fresh service object every time, so no locked state is cached.
SecretService *openService(SecretServiceFlags flags = SECRET_SERVICE_NONE)
{
    return secret_service_open_sync(SECRET_TYPE_SERVICE, nullptr, flags, nullptr, nullptr);
}

GHashTable *credentialAttributes()
{
    return secret_attributes_build(&credentialSchema, "service", "com.tarnwick.mac", "account", "device-credential",
                                   nullptr);
}

template<typename Use>
void forEachCredentialItem(Use use)
{
    g_autoptr(SecretService) secrets = openService();
    g_autoptr(GHashTable) query = credentialAttributes();
    g_autolist(SecretItem) items =
        secret_service_search_sync(secrets, &credentialSchema, query, SECRET_SEARCH_ALL, nullptr, nullptr);
    for (GList *link = items; link; link = link->next)
        use(static_cast<SecretItem *>(link->data));
}

} // namespace

QList<QByteArray> TestKeyring::credentialSecrets()
{
    QList<QByteArray> found;
    forEachCredentialItem([&](SecretItem *item) {
        const bool readable = !secret_item_get_locked(item) && secret_item_load_secret_sync(item, nullptr, nullptr);
        g_autoptr(SecretValue) value = readable ? secret_item_get_secret(item) : nullptr;
        gsize length = 0;
        const gchar *bytes = value ? secret_value_get(value, &length) : nullptr;
        found.append(bytes ? QByteArray(bytes, qsizetype(length)) : "<locked>");
    });
    return found;
}

bool TestKeyring::storeRaw(const QByteArray &secret)
{
    g_autoptr(GHashTable) attributes = credentialAttributes();
    g_autoptr(SecretValue) value = secret_value_new(secret.constData(), secret.size(), "application/octet-stream");
    g_autoptr(SecretService) secrets = openService();
    return secret_service_store_sync(secrets, &credentialSchema, attributes, SECRET_COLLECTION_DEFAULT, "raw test item",
                                     value, nullptr, nullptr);
}

bool TestKeyring::deleteCredentialItems()
{
    bool deleted = true;
    forEachCredentialItem(
        [&](SecretItem *item) { deleted = secret_item_delete_sync(item, nullptr, nullptr) && deleted; });
    return deleted;
}

bool TestKeyring::lockAll()
{
    g_autoptr(SecretService) secrets = openService(SECRET_SERVICE_LOAD_COLLECTIONS);
    g_autolist(SecretCollection) collections = secrets ? secret_service_get_collections(secrets) : nullptr;
    return collections && secret_service_lock_sync(secrets, collections, nullptr, nullptr, nullptr) > 0
           && isDefaultLocked();
}

bool TestKeyring::isDefaultLocked()
{
    g_autoptr(SecretService) secrets = openService();
    g_autoptr(SecretCollection) collection =
        secrets ? secret_collection_for_alias_sync(secrets, SECRET_COLLECTION_DEFAULT, SECRET_COLLECTION_NONE, nullptr,
                                                   nullptr)
                : nullptr;
    return collection && secret_collection_get_locked(collection);
}

// The standard interface always prompts; a new daemon unlocks with the session's password instead.
bool TestKeyring::unlockDefault()
{
    return !isDefaultLocked() || (restartDaemon() && !isDefaultLocked());
}

bool TestKeyring::restartDaemon()
{
    const QString secrets = QStringLiteral("org.freedesktop.secrets");
    QDBusConnectionInterface *bus = QDBusConnection::sessionBus().interface();
    const QString oldOwner = bus->serviceOwner(secrets);
    QProcess daemon;
    daemon.start(QStringLiteral("gnome-keyring-daemon"),
                 {QStringLiteral("--replace"), QStringLiteral("--unlock"), QStringLiteral("--components=secrets")});
    daemon.write(sessionPassword);
    daemon.closeWriteChannel();
    if (!daemon.waitForFinished() || daemon.exitCode() != 0)
        return false;
    return QTest::qWaitFor(
        [&] {
            const QString owner = bus->serviceOwner(secrets);
            return !owner.isEmpty() && owner != oldOwner;
        },
        10000);
}
