#pragma once

#include "credentials/CredentialReading.h"
#include "credentials/CredentialStoring.h"

// The device credential in memory, for the setup application and the helper alike; a scripted failure
// answers every call until cleared.
class MemoryCredentialStore final : public CredentialStoring, public CredentialReading
{
public:
    Result<void> save(const QString &value) const override
    {
        if (failure)
            return ::failure(*failure);
        credential = value;
        return {};
    }
    Result<std::optional<QString>> read() const override
    {
        if (failure)
            return ::failure(*failure);
        return credential;
    }
    QCoro::Task<Answer> readAsync() const override { co_return read(); }
    Result<void> remove() const override
    {
        if (failure)
            return ::failure(*failure);
        credential.reset();
        return {};
    }

    mutable std::optional<QString> credential;
    std::optional<Error> failure;
};
