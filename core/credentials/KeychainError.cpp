#include "KeychainError.h"

KeychainError::KeychainError(Case kind, std::int32_t status)
    : m_kind(kind)
    , m_status(status)
{
}

QString KeychainError::domain()
{
    return QStringLiteral("KeychainError");
}

KeychainError KeychainError::unexpectedStatus(std::int32_t status)
{
    return KeychainError(Case::unexpectedStatus, status);
}

KeychainError KeychainError::invalidData()
{
    return KeychainError(Case::invalidData, 0);
}

QString KeychainError::description() const
{
    switch (m_kind) {
    case Case::unexpectedStatus: return QStringLiteral("Keychain access failed (%1).").arg(m_status);
    case Case::invalidData: break;
    }
    return QStringLiteral("The saved device credential is invalid.");
}

Error KeychainError::toError() const
{
    const int code = m_kind == Case::unexpectedStatus ? m_status : invalidDataCode;
    return Error{domain(), code, description()};
}
