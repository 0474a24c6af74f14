#pragma once

#include "CredentialStoring.h"

#include <QString>

#include <optional>

// The device credential as one Secret Service item (libsecret, session bus) with the attributes
// service = "com.tarnwick.mac", account = "device-credential" and, only when the store has one,
// accessGroup. The secret is the token's UTF-8 bytes. Items are matched by these attributes, not by schema
// name, so items made with `secret-tool store` are found too.
//
// A locked collection is never taken for "no credential": with `UnlockPrompt::never` the operation fails
// with KeychainError::interactionNotAllowed and leaves the item alone; with `UnlockPrompt::allowed` the
// Secret Service is asked to unlock (which may show its prompt) and the operation goes on once it has.
class SystemCredentialStore final : public CredentialStoring
{
public:
    enum class UnlockPrompt {
        never,   // unattended callers (the helper retries on its own)
        allowed, // a person is at the window and can answer the unlock prompt
    };

    explicit SystemCredentialStore(std::optional<QString> accessGroup, UnlockPrompt unlockPrompt = UnlockPrompt::never);

    // The access group shared by both programs. Linux has no entitlements, so there is none.
    static std::optional<QString> sharedAccessGroup();

    const std::optional<QString> &accessGroup() const { return m_accessGroup; }
    UnlockPrompt unlockPrompt() const { return m_unlockPrompt; }

    Result<void> save(const QString &credential) const override;
    Result<std::optional<QString>> read() const override;
    Result<void> remove() const override;

    // Whether a credential is stored, without fetching its secret.
    Result<bool> hasCredential() const;

private:
    std::optional<QString> m_accessGroup;
    UnlockPrompt m_unlockPrompt;
};
