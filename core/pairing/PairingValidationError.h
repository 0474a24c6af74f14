#pragma once

#include "common/Error.h"

// Why a callback URL handed to the application was not accepted.
enum class PairingValidationError {
    invalidCallback,
    stateMismatch,
    missingCode,
};

// The text the user sees for the failure.
QString description(PairingValidationError error);

// The failure as it travels between layers: domain "PairingValidationError", code = the case's position.
Error toError(PairingValidationError error);
