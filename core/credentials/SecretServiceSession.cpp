#include "SecretServiceSession.h"

#include "CredentialsLog.h"
#include "KeychainError.h"

namespace {

const char serviceName[] = "com.tarnwick.mac";
const char accountName[] = "device-credential";
const char defaultCollectionAlias[] = "default";
// New items go to whatever collection the "default" alias names.
const char defaultCollectionPath[] = "/org/freedesktop/secrets/aliases/default";
// The Secret Service requires a label; it is what the desktop's password manager lists.
const char itemLabel[] = "Tarnwick device credential";

// Items are matched by their attributes alone, never by a schema name, so an item stored by another tool
// (`secret-tool store service com.tarnwick.mac account device-credential`) is the same credential.
const SecretSchema credentialSchema = {
    "com.tarnwick.mac.DeviceCredential",
    SECRET_SCHEMA_DONT_MATCH_NAME,
    {
        {"service", SECRET_SCHEMA_ATTRIBUTE_STRING},
        {"account", SECRET_SCHEMA_ATTRIBUTE_STRING},
        {"accessGroup", SECRET_SCHEMA_ATTRIBUTE_STRING},
        {nullptr, SECRET_SCHEMA_ATTRIBUTE_STRING},
    },
    0,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
};

using Paths = SecretServiceSession::Paths;

// Takes ownership of a NULL-terminated array of strings.
Paths takePaths(gchar **strings)
{
    Paths paths;
    for (gchar **string = strings; string && *string; ++string)
        paths.emplace_back(*string);
    g_strfreev(strings);
    return paths;
}

// A NULL-terminated array over the paths, for calls that take one.
std::vector<const gchar *> pathArray(const Paths &paths)
{
    std::vector<const gchar *> array;
    for (const QByteArray &path : paths)
        array.push_back(path.constData());
    array.push_back(nullptr);
    return array;
}

// The bus is gone, nothing owns the Secret Service name, or the bus could not start the service.
bool isUnreachable(const GError *error)
{
    if (error->domain != G_DBUS_ERROR)
        return g_error_matches(error, G_IO_ERROR, G_IO_ERROR_CLOSED);
    const bool activationFailed =
        error->code >= G_DBUS_ERROR_SPAWN_EXEC_FAILED && error->code <= G_DBUS_ERROR_SPAWN_NO_MEMORY;
    return activationFailed || error->code == G_DBUS_ERROR_SERVICE_UNKNOWN
           || error->code == G_DBUS_ERROR_NAME_HAS_NO_OWNER || error->code == G_DBUS_ERROR_NO_SERVER
           || error->code == G_DBUS_ERROR_DISCONNECTED;
}

std::int32_t statusFor(const GError *error)
{
    if (isUnreachable(error))
        return KeychainError::serviceUnavailable;
    if (g_error_matches(error, SECRET_ERROR, SECRET_ERROR_IS_LOCKED))
        return KeychainError::interactionNotAllowed;
    return KeychainError::otherFailure;
}

std::unexpected<Error> failureWith(std::int32_t status)
{
    return failure(KeychainError::unexpectedStatus(status).toError());
}

// The status code keeps only the kind of failure; the Secret Service's own words are logged. The kinds
// with a fixed meaning (no service, locked) come back every few seconds in the helper's retries, so only
// the unforeseen ones are warnings.
std::unexpected<Error> failureFrom(const GErrorSlot &error)
{
    const std::int32_t status = error ? statusFor(error.get()) : KeychainError::otherFailure;
    const char *const cause = error ? error.get()->message : "no reason given";
    if (status == KeychainError::otherFailure)
        qCWarning(lcCredentials) << "Secret Service failure" << status << ":" << cause;
    else
        qCDebug(lcCredentials) << "Secret Service failure" << status << ":" << cause;
    return failureWith(status);
}

}

SecretServiceSession::SecretServiceSession(GObjectPtr<SecretService> service, const std::optional<QString> &accessGroup,
                                           SystemCredentialStore::UnlockPrompt unlockPrompt)
    : m_service(std::move(service))
    , m_accessGroup(accessGroup ? std::optional(accessGroup->toUtf8()) : std::nullopt)
    , m_unlockPrompt(unlockPrompt)
{
}

Result<SecretServiceSession> SecretServiceSession::open(const std::optional<QString> &accessGroup,
                                                        SystemCredentialStore::UnlockPrompt unlockPrompt)
{
    // A service object of its own, not libsecret's shared one: that one stays bound to the daemon it first
    // met and fails for good once the Secret Service restarts, which a long-running helper would outlive.
    GErrorSlot error;
    GObjectPtr<SecretService> service(
        secret_service_open_sync(SECRET_TYPE_SERVICE, nullptr, SECRET_SERVICE_NONE, nullptr, error.out()));
    if (!service) {
        qCDebug(lcCredentials) << "No Secret Service:" << (error ? error.get()->message : "no reason given");
        return failureWith(KeychainError::serviceUnavailable);
    }
    return SecretServiceSession(std::move(service), accessGroup, unlockPrompt);
}

Result<Paths> SecretServiceSession::unlockedItems() const
{
    Result<Search> found = search();
    if (found && found->isEmpty()) {
        const Result<bool> unlockedCollection = unlockDefaultCollection();
        if (!unlockedCollection)
            return failure(unlockedCollection.error());
        if (*unlockedCollection)
            found = search();
    }
    if (!found)
        return failure(found.error());
    if (const Result<void> unlocked = unlock(found->locked); !unlocked)
        return failure(unlocked.error());
    Paths items = std::move(found->unlocked);
    items.insert(items.end(), found->locked.begin(), found->locked.end());
    return items;
}

Result<void> SecretServiceSession::deleteAll(const Paths &items) const
{
    for (const QByteArray &item : items) {
        GErrorSlot error;
        if (!secret_service_delete_item_dbus_path_sync(m_service.get(), item.constData(), nullptr, error.out()))
            return failureFrom(error);
    }
    return {};
}

// Creates the item without the Secret Service's replace, which would also take an item whose attributes
// merely include these, such as another access group's credential.
Result<void> SecretServiceSession::add(const QByteArray &secret) const
{
    if (const Result<bool> unlocked = unlockDefaultCollection(); !unlocked)
        return failure(unlocked.error());
    GHashTablePtr properties(
        g_hash_table_new_full(g_str_hash, g_str_equal, nullptr, reinterpret_cast<GDestroyNotify>(g_variant_unref)));
    g_hash_table_insert(properties.get(), gpointer("org.freedesktop.Secret.Item.Label"),
                        g_variant_ref_sink(g_variant_new_string(itemLabel)));
    g_hash_table_insert(properties.get(), gpointer("org.freedesktop.Secret.Item.Attributes"),
                        g_variant_ref_sink(attributeVariant()));
    const SecretValuePtr value(secret_value_new(secret.constData(), secret.size(), "text/plain"));
    GErrorSlot error;
    const GCharPtr item(secret_service_create_item_dbus_path_sync(m_service.get(), defaultCollectionPath,
                                                                  properties.get(), value.get(),
                                                                  SECRET_ITEM_CREATE_NONE, nullptr, error.out()));
    if (!item)
        return failureFrom(error);
    return {};
}

Result<std::optional<QByteArray>> SecretServiceSession::secretOf(const QByteArray &item) const
{
    GErrorSlot error;
    const SecretValuePtr value(
        secret_service_get_secret_for_dbus_path_sync(m_service.get(), item.constData(), nullptr, error.out()));
    if (error)
        return failureFrom(error);
    if (!value)
        return std::nullopt;
    gsize length = 0;
    const gchar *bytes = secret_value_get(value.get(), &length);
    return QByteArray(bytes, qsizetype(length));
}

std::vector<std::pair<const char *, const char *>> SecretServiceSession::attributes() const
{
    std::vector<std::pair<const char *, const char *>> pairs{{"service", serviceName}, {"account", accountName}};
    if (m_accessGroup)
        pairs.emplace_back("accessGroup", m_accessGroup->constData());
    return pairs;
}

GHashTablePtr SecretServiceSession::attributeTable() const
{
    GHashTablePtr table(g_hash_table_new(g_str_hash, g_str_equal));
    for (const auto &[name, value] : attributes())
        g_hash_table_insert(table.get(), gpointer(name), gpointer(value));
    return table;
}

GVariant *SecretServiceSession::attributeVariant() const
{
    GVariantBuilder builder;
    g_variant_builder_init(&builder, G_VARIANT_TYPE("a{ss}"));
    for (const auto &[name, value] : attributes())
        g_variant_builder_add(&builder, "{ss}", name, value);
    return g_variant_builder_end(&builder);
}

// Locked items are found too: the service reports them apart from the unlocked ones.
Result<SecretServiceSession::Search> SecretServiceSession::search() const
{
    const GHashTablePtr table = attributeTable();
    gchar **unlocked = nullptr;
    gchar **locked = nullptr;
    GErrorSlot error;
    secret_service_search_for_dbus_paths_sync(m_service.get(), &credentialSchema, table.get(), nullptr, &unlocked,
                                              &locked, error.out());
    const Paths unlockedFound = takePaths(unlocked);
    const Paths lockedFound = takePaths(locked);
    if (error)
        return failureFrom(error);
    Result<Paths> unlockedOwn = ownItems(unlockedFound);
    if (!unlockedOwn)
        return failure(unlockedOwn.error());
    Result<Paths> lockedOwn = ownItems(lockedFound);
    if (!lockedOwn)
        return failure(lockedOwn.error());
    return Search{std::move(*unlockedOwn), std::move(*lockedOwn)};
}

Result<Paths> SecretServiceSession::ownItems(const Paths &items) const
{
    Paths own;
    for (const QByteArray &item : items) {
        const Result<bool> belongs = belongsToStore(item);
        if (!belongs)
            return failure(belongs.error());
        if (*belongs)
            own.push_back(item);
    }
    return own;
}

// A search matches every item that carries at least the asked attributes; a store without an access group
// must not take the item of a store with one, so the access group is compared exactly.
Result<bool> SecretServiceSession::belongsToStore(const QByteArray &item) const
{
    GErrorSlot error;
    const GObjectPtr<SecretItem> proxy(
        secret_item_new_for_dbus_path_sync(m_service.get(), item.constData(), SECRET_ITEM_NONE, nullptr, error.out()));
    if (!proxy)
        return failureFrom(error);
    const GHashTablePtr itemAttributes(secret_item_get_attributes(proxy.get()));
    const auto *group = static_cast<const char *>(g_hash_table_lookup(itemAttributes.get(), "accessGroup"));
    if (!m_accessGroup)
        return group == nullptr;
    return group && *m_accessGroup == group;
}

// Whether the default collection had to be unlocked; fails when it is locked and stays so.
Result<bool> SecretServiceSession::unlockDefaultCollection() const
{
    GErrorSlot aliasError;
    const GCharPtr path(
        secret_service_read_alias_dbus_path_sync(m_service.get(), defaultCollectionAlias, nullptr, aliasError.out()));
    if (aliasError)
        return failureFrom(aliasError);
    if (!path)
        return false;
    GErrorSlot error;
    const GObjectPtr<SecretCollection> collection(secret_collection_new_for_dbus_path_sync(
        m_service.get(), path.get(), SECRET_COLLECTION_NONE, nullptr, error.out()));
    if (!collection)
        return failureFrom(error);
    if (!secret_collection_get_locked(collection.get()))
        return false;
    if (const Result<void> unlocked = unlock(Paths{QByteArray(path.get())}); !unlocked)
        return failure(unlocked.error());
    return true;
}

// Without permission to prompt, a locked object fails the operation. With it the Secret Service shows its
// unlock prompt, and a prompt that unlocks less than asked counts as dismissed.
Result<void> SecretServiceSession::unlock(const Paths &objects) const
{
    if (objects.empty())
        return {};
    if (m_unlockPrompt == SystemCredentialStore::UnlockPrompt::never)
        return failureWith(KeychainError::interactionNotAllowed);
    std::vector<const gchar *> paths = pathArray(objects);
    gchar **unlocked = nullptr;
    GErrorSlot error;
    secret_service_unlock_dbus_paths_sync(m_service.get(), paths.data(), nullptr, &unlocked, error.out());
    const Paths unlockedPaths = takePaths(unlocked);
    if (error)
        return failureFrom(error);
    if (unlockedPaths.size() < objects.size())
        return failureWith(KeychainError::unlockDismissed);
    return {};
}
