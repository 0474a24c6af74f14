#pragma once

#include <QString>

// The helper's registration to start at login, as the setup application sees it.
enum class LoginItemState {
    enabled,          // registered and allowed to run
    requiresApproval, // registered, but switched off by the user in the desktop's startup settings
    notRegistered,
    notFound, // the helper is missing from the installation
};

// "enabled", "requiresApproval", "notRegistered" or "notFound".
QString rawValue(LoginItemState state);