#pragma once

#include "credentials/CredentialStoring.h"

#include <QThread>

#include <atomic>

// The device credential in memory; a scripted failure answers every call until cleared.
class MemoryCredentialStore final : public CredentialStoring
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
        readOn = QThread::currentThread();
        if (failure)
            return ::failure(*failure);
        return credential;
    }
    Result<void> remove() const override
    {
        if (failure)
            return ::failure(*failure);
        credential.reset();
        return {};
    }

    mutable std::optional<QString> credential;
    std::optional<Error> failure;
    // The thread of the latest read.
    mutable std::atomic<QThread *> readOn = nullptr;
};
