#pragma once

#include "common/Error.h"

#include <QString>

#include <chrono>
#include <optional>

// Which runner this helper has started, kept in a session file so that a helper killed outright (SIGKILL,
// a crash) leaves enough behind for the next helper to stop a runner that outlived it: two runners must
// never run at once. A process is named by its pid together with its start time (clock ticks after boot,
// field 22 of /proc/PID/stat), so a pid the kernel has since handed to another program is never signalled.
//
// The file holds "<pid> <start time>\n", 0600, replaced atomically. Used from the supervision thread only.
namespace RunnerRecord {

// "$XDG_RUNTIME_DIR/tarnwick-runner.pid" (see RuntimeFile).
QString path();

// The start time of the live process `pid`, or absent when there is none (an ended process waiting to be
// reaped counts as none).
std::optional<quint64> startTimeOf(qint64 pid);

// Records the runner `pid`, which must be running.
Result<void> save(qint64 pid);

// Removes the record if it still names `pid` (a newer runner's record stays).
Result<void> removeIfNaming(qint64 pid);

// Stops the runner the record names if that very process still runs: SIGTERM, then SIGKILL once
// `killDelay` has passed; returns when it is gone or has ignored even SIGKILL for `killDelay` more. Then
// removes the record. Answers whether a recorded runner was found running; an unreadable or malformed
// record is a failure (and is left alone).
Result<bool> stopRecordedRunner(std::chrono::milliseconds killDelay);

} // namespace RunnerRecord
