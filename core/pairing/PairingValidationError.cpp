#include "PairingValidationError.h"

#include "common/EnumTextTable.h"

QString description(PairingValidationError error)
{
    static constexpr EnumTextTable texts{
        std::pair{PairingValidationError::invalidCallback, u"The browser returned an invalid connection link."},
        std::pair{PairingValidationError::stateMismatch, u"The connection response did not match this Mac."},
        std::pair{PairingValidationError::missingCode, u"The connection response did not include a code."},
    };
    return texts.text(error);
}

Error toError(PairingValidationError error)
{
    return Error{QStringLiteral("PairingValidationError"), static_cast<int>(error), description(error)};
}
