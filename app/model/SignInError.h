#pragma once

#include "common/Error.h"

// Errors of the browser sign-in itself, before any callback is looked at.
namespace SignInError {

inline constexpr int canceledLoginCode = 1;

Error canceledLogin();
bool isCanceledLogin(const Error &error);

} // namespace SignInError
