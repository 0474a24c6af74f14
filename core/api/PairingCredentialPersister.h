#pragma once

#include "api/DeviceExchange.h"
#include "common/Error.h"

class CredentialStoring;

// Saves the credential of a finished exchange; the device record is left to the caller.
class PairingCredentialPersister
{
public:
    // `store` must outlive the persister.
    explicit PairingCredentialPersister(const CredentialStoring &store);

    // The store's failure reaches the caller unchanged.
    Result<void> persist(const DeviceExchange &exchange) const;

private:
    const CredentialStoring *m_store;
};
