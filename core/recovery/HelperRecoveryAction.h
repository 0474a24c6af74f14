#pragma once

#include <QString>

// What the setup application should do for the background helper.
enum class HelperRecoveryAction {
    none,
    registerHelper,         // register it as a login item
    restart,                // unregister it and register it again
    enableInSystemSettings, // ask the user to switch it on in the desktop's startup settings
    reinstall,              // tell the user the helper is missing and Tarnwick must be reinstalled
};

// The case name the window sees; the action that registers the helper is "register".
QString rawValue(HelperRecoveryAction action);
