#include "TestKeyring.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QDBusServiceWatcher>
#include <QProcess>
#include <QSignalSpy>

#include <libsecret/secret.h>

namespace {

const QString secretsService = QStringLiteral("org.freedesktop.secrets");
const QString secretsPath = QStringLiteral("/org/freedesktop/secrets");
// The password tests/with-keyring.sh starts gnome-keyring with.
const QByteArray keyringPassword = QByteArrayLiteral("tarnwick-test");

const SecretSchema anySchema = {
    "org.freedesktop.Secret.Generic",
    SECRET_SCHEMA_DONT_MATCH_NAME,
    {{"service", SECRET_SCHEMA_ATTRIBUTE_STRING},
     {"account", SECRET_SCHEMA_ATTRIBUTE_STRING},
     {"accessGroup", SECRET_SCHEMA_ATTRIBUTE_STRING},
     {nullptr, SECRET_SCHEMA_ATTRIBUTE_STRING}},
    0, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
};

// A fresh service object each time: one that outlives a restart of the Secret Service stops working, and
// its cached items would carry a stale locked state.
SecretService *service()
{
    return secret_service_open_sync(SECRET_TYPE_SERVICE, nullptr, SECRET_SERVICE_NONE, nullptr, nullptr);
}

QDBusMessage callSecrets(const QString &interface, const QString &method, const QVariantList &arguments,
                         const QString &path = secretsPath)
{
    QDBusMessage call = QDBusMessage::createMethodCall(secretsService, path, interface, method);
    call.setArguments(arguments);
    return QDBusConnection::sessionBus().call(call);
}

QDBusMessage callService(const QString &method, const QVariantList &arguments)
{
    return callSecrets(QStringLiteral("org.freedesktop.Secret.Service"), method, arguments);
}

QVariant property(const QString &path, const QString &interface, const QString &name)
{
    const QDBusMessage reply = callSecrets(QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"),
                                           {interface, name}, path);
    if (reply.type() != QDBusMessage::ReplyMessage)
        return {};
    return reply.arguments().at(0).value<QDBusVariant>().variant();
}

std::optional<QDBusObjectPath> defaultCollectionPath()
{
    const QDBusMessage reply = callService(QStringLiteral("ReadAlias"), {QStringLiteral("default")});
    if (reply.type() != QDBusMessage::ReplyMessage)
        return std::nullopt;
    return reply.arguments().at(0).value<QDBusObjectPath>();
}

GHashTable *hashTable(const TestKeyring::Attributes &attributes)
{
    GHashTable *table = g_hash_table_new_full(g_str_hash, g_str_equal, g_free, g_free);
    for (auto it = attributes.cbegin(); it != attributes.cend(); ++it)
        g_hash_table_insert(table, g_strdup(it.key().toUtf8().constData()), g_strdup(it.value().toUtf8().constData()));
    return table;
}

TestKeyring::Attributes attributesOf(SecretItem *item)
{
    TestKeyring::Attributes attributes;
    GHashTable *table = secret_item_get_attributes(item);
    GHashTableIter iter;
    gpointer key = nullptr;
    gpointer value = nullptr;
    g_hash_table_iter_init(&iter, table);
    while (g_hash_table_iter_next(&iter, &key, &value))
        attributes.insert(QString::fromUtf8(static_cast<char *>(key)), QString::fromUtf8(static_cast<char *>(value)));
    g_hash_table_unref(table);
    return attributes;
}

std::optional<QByteArray> secretOf(SecretItem *item)
{
    if (secret_item_get_locked(item) || !secret_item_load_secret_sync(item, nullptr, nullptr))
        return std::nullopt;
    SecretValue *value = secret_item_get_secret(item);
    if (!value)
        return std::nullopt;
    gsize length = 0;
    const gchar *bytes = secret_value_get(value, &length);
    QByteArray secret(bytes, qsizetype(length));
    secret_value_unref(value);
    return secret;
}

GList *searchCredentialItems(SecretService *secrets)
{
    GHashTable *query = hashTable(TestKeyring::credentialAttributes());
    GList *items = secret_service_search_sync(secrets, &anySchema, query, SECRET_SEARCH_ALL, nullptr, nullptr);
    g_hash_table_unref(query);
    return items;
}

}

QByteArray TestKeyring::password()
{
    return keyringPassword;
}

TestKeyring::Attributes TestKeyring::credentialAttributes()
{
    return {{QStringLiteral("service"), QStringLiteral("com.tarnwick.mac")},
            {QStringLiteral("account"), QStringLiteral("device-credential")}};
}

QList<TestKeyring::Item> TestKeyring::credentialItems()
{
    SecretService *secrets = service();
    QList<Item> found;
    GList *items = searchCredentialItems(secrets);
    for (GList *link = items; link; link = link->next) {
        auto *item = static_cast<SecretItem *>(link->data);
        found.append(Item{attributesOf(item), secretOf(item)});
    }
    g_list_free_full(items, g_object_unref);
    g_object_unref(secrets);
    return found;
}

bool TestKeyring::storeRaw(const Attributes &attributes, const QByteArray &secret)
{
    SecretService *secrets = service();
    GHashTable *table = hashTable(attributes);
    SecretValue *value = secret_value_new(secret.constData(), secret.size(), "application/octet-stream");
    const bool stored = secret_service_store_sync(secrets, nullptr, table, SECRET_COLLECTION_DEFAULT, "raw test item",
                                                  value, nullptr, nullptr);
    secret_value_unref(value);
    g_hash_table_unref(table);
    g_object_unref(secrets);
    return stored;
}

bool TestKeyring::deleteCredentialItems()
{
    SecretService *secrets = service();
    GList *items = searchCredentialItems(secrets);
    bool deleted = true;
    for (GList *link = items; link; link = link->next)
        deleted = secret_item_delete_sync(static_cast<SecretItem *>(link->data), nullptr, nullptr) && deleted;
    g_list_free_full(items, g_object_unref);
    g_object_unref(secrets);
    return deleted;
}

bool TestKeyring::lockAll()
{
    const QVariant collections = property(secretsPath, QStringLiteral("org.freedesktop.Secret.Service"),
                                          QStringLiteral("Collections"));
    QList<QDBusObjectPath> paths;
    collections.value<QDBusArgument>() >> paths;
    const QDBusMessage reply = callService(QStringLiteral("Lock"), {QVariant::fromValue(paths)});
    return reply.type() == QDBusMessage::ReplyMessage && !paths.isEmpty() && isDefaultLocked();
}

bool TestKeyring::isDefaultLocked()
{
    const std::optional<QDBusObjectPath> collection = defaultCollectionPath();
    return collection
        && property(collection->path(), QStringLiteral("org.freedesktop.Secret.Collection"), QStringLiteral("Locked"))
               .toBool();
}

bool TestKeyring::unlockDefault()
{
    const QDBusMessage opened = callService(QStringLiteral("OpenSession"),
                                            {QStringLiteral("plain"), QVariant::fromValue(QDBusVariant(QString()))});
    const std::optional<QDBusObjectPath> collection = defaultCollectionPath();
    if (opened.type() != QDBusMessage::ReplyMessage || !collection)
        return false;
    const auto session = opened.arguments().at(1).value<QDBusObjectPath>();

    QDBusArgument master;
    master.beginStructure();
    master << session << QByteArray() << keyringPassword << QStringLiteral("text/plain");
    master.endStructure();
    const QDBusMessage reply = callSecrets(QStringLiteral("org.gnome.keyring.InternalUnsupportedGuiltRiddenInterface"),
                                           QStringLiteral("UnlockWithMasterPassword"),
                                           {QVariant::fromValue(*collection), QVariant::fromValue(master)});
    return reply.type() == QDBusMessage::ReplyMessage && !isDefaultLocked();
}

bool TestKeyring::restartDaemon()
{
    QDBusConnectionInterface *bus = QDBusConnection::sessionBus().interface();
    const QString oldOwner = bus->serviceOwner(secretsService);
    QDBusServiceWatcher watcher(secretsService, QDBusConnection::sessionBus(),
                                QDBusServiceWatcher::WatchForOwnerChange);
    QSignalSpy ownerChanged(&watcher, &QDBusServiceWatcher::serviceOwnerChanged);

    QProcess daemon;
    daemon.start(QStringLiteral("gnome-keyring-daemon"),
                 {QStringLiteral("--replace"), QStringLiteral("--unlock"), QStringLiteral("--components=secrets")});
    daemon.write(keyringPassword);
    daemon.closeWriteChannel();
    if (!daemon.waitForFinished() || daemon.exitCode() != 0)
        return false;

    const auto replaced = [&] {
        const QString owner = bus->serviceOwner(secretsService);
        return !owner.isEmpty() && owner != oldOwner;
    };
    while (!replaced()) {
        if (!ownerChanged.wait(10000))
            return false;
    }
    return true;
}
