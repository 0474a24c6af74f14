#pragma once

#include "common/Error.h"
#include "loginitem/LoginItemState.h"

// Reads and changes the helper's login-item registration. Failures are the platform's own errors.
class LoginItemManaging
{
public:
    virtual ~LoginItemManaging() = default;

    // Read afresh at every call.
    virtual LoginItemState state() const = 0;
    // Registers the helper when it is not registered; otherwise changes nothing and succeeds.
    [[nodiscard]] virtual Result<void> registerItem() = 0;
    // Removes the registration when there is one; otherwise changes nothing and succeeds.
    [[nodiscard]] virtual Result<void> unregisterItem() = 0;
};
