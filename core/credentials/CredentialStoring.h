#pragma once

#include "common/Error.h"

#include <QString>

#include <optional>

// Where the device credential is kept: one credential, replaced on save, absent when none is stored.
// Failures of the store are KeychainErrors converted to Error.
class CredentialStoring
{
public:
    virtual ~CredentialStoring() = default;

    // Replaces any stored credential with this one.
    virtual Result<void> save(const QString &credential) const = 0;
    // The stored credential, or nullopt when none is stored (not an error).
    virtual Result<std::optional<QString>> read() const = 0;
    // Removes the stored credential; removing an absent one succeeds.
    virtual Result<void> remove() const = 0;
};
