#pragma once

#include "config/ProviderPaths.h"

#include <QStringList>

// What a provider check found: the paths of the ready coding agents, which of them are ready, and one
// line per agent for the user.
struct ProviderReadiness
{
    ProviderPaths paths;
    bool codexReady = false;
    bool claudeCodeReady = false;
    QStringList messages;

    friend bool operator==(const ProviderReadiness &, const ProviderReadiness &) = default;
};
