#pragma once

// Why the current runner process is expected to end. The supervisor sets it before each launch and before
// each stop it asks for; it is never derived from the exit status.
enum class RunnerExitReason {
    crash,                // ended without the helper asking: the default for every launch
    configurationChanged, // ended by the helper because the configuration file changed
    quit,                 // ended by the helper because the helper is stopping
};
