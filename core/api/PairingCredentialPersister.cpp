#include "PairingCredentialPersister.h"

#include "credentials/CredentialStoring.h"

PairingCredentialPersister::PairingCredentialPersister(const CredentialStoring &store)
    : m_store(&store)
{
}

Result<void> PairingCredentialPersister::persist(const DeviceExchange &exchange) const
{
    return m_store->save(exchange.credential);
}
