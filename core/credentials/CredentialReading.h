#pragma once

#include "common/Error.h"

#include <QCoroTask>
#include <QString>

#include <optional>

// Reads the device credential for a program that never changes it. The answer is CredentialStoring::read's:
// the credential, nullopt when none is stored, or why it could not be read.
class CredentialReading
{
public:
    using Answer = Result<std::optional<QString>>;

    virtual ~CredentialReading() = default;

    // Blocks the calling thread until the answer is known.
    virtual Answer read() const = 0;
    // The same without blocking: the task completes on the calling thread's event loop.
    virtual QCoro::Task<Answer> readAsync() const = 0;
};
