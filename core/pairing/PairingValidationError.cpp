#include "PairingValidationError.h"

QString description(PairingValidationError error)
{
    switch (error) {
    case PairingValidationError::invalidCallback:
        return QStringLiteral("The browser returned an invalid connection link.");
    case PairingValidationError::stateMismatch:
        return QStringLiteral("The connection response did not match this Mac.");
    case PairingValidationError::missingCode:
        return QStringLiteral("The connection response did not include a code.");
    }
    Q_UNREACHABLE();
    return {};
}

Error toError(PairingValidationError error)
{
    return Error{QStringLiteral("PairingValidationError"), static_cast<int>(error), description(error)};
}
