#pragma once

#include "GLibHandles.h"
#include "SystemCredentialStore.h"

#include <QByteArray>

#include <vector>

// One credential-store operation's conversation with the Secret Service (libsecret's object-path calls).
// Every answer comes from the service itself, never from objects cached in the process, so the locked state
// is always current. Failures are KeychainErrors converted to Error.
class SecretServiceSession
{
public:
    using Paths = std::vector<QByteArray>;

    static Result<SecretServiceSession> open(const std::optional<QString> &accessGroup,
                                             SystemCredentialStore::UnlockPrompt unlockPrompt);

    // The credential's items, all unlocked. Locked items are part of the answer, so a locked credential is
    // never taken for none; and a locked default collection is unlocked (or the lookup fails) before "no
    // item" is believed, because some Secret Services hide the items of a locked collection.
    Result<Paths> unlockedItems() const;
    Result<void> deleteAll(const Paths &items) const;
    // Adds one item holding these bytes to the default collection.
    Result<void> add(const QByteArray &secret) const;
    // The item's secret bytes; nullopt when the service hands back no secret.
    Result<std::optional<QByteArray>> secretOf(const QByteArray &item) const;

private:
    struct Search
    {
        Paths unlocked;
        Paths locked;
        bool isEmpty() const { return unlocked.empty() && locked.empty(); }
    };

    SecretServiceSession(GObjectPtr<SecretService> service, const std::optional<QString> &accessGroup,
                         SystemCredentialStore::UnlockPrompt unlockPrompt);

    // The attributes that name the credential: service, account and, when the store has one, accessGroup.
    std::vector<std::pair<const char *, const char *>> attributes() const;
    GHashTablePtr attributeTable() const;
    GVariant *attributeVariant() const;

    Result<Search> search() const;
    Result<Paths> ownItems(const Paths &items) const;
    Result<bool> belongsToStore(const QByteArray &item) const;
    Result<bool> unlockDefaultCollection() const;
    Result<void> unlock(const Paths &objects) const;

    GObjectPtr<SecretService> m_service;
    std::optional<QByteArray> m_accessGroup;
    SystemCredentialStore::UnlockPrompt m_unlockPrompt;
};
