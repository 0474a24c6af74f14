#pragma once

#include "supervision/RunnerExitReason.h"

// Whether to launch the runner again after it ended, and after how long: one fixed delay, no backoff, no
// limit on attempts. The runner stays down only when the helper is quitting.
namespace RunnerSupervisionPolicy {

inline constexpr double relaunchDelay = 3.0; // seconds

bool shouldRelaunch(RunnerExitReason reason);

} // namespace RunnerSupervisionPolicy
