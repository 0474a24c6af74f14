#pragma once

#include "discovery/CommandRunning.h"

#include <chrono>
#include <optional>

// Runs commands as child processes. The child's standard output and standard error share one pipe that
// is read while the child runs, its standard input is the null device, and it leads a session of its own
// so that it and everything it starts can be stopped together when the time limit runs out.
//
// Exit status of a child killed by a signal: 128 plus the signal number, as a shell reports it.
class ProcessCommandRunner : public CommandRunning
{
public:
    // Without a time limit a command may run for as long as it likes.
    explicit ProcessCommandRunner(std::optional<std::chrono::milliseconds> timeLimit = std::nullopt);

    CommandResult run(const QString &executable, const QStringList &arguments) const override;

private:
    std::optional<std::chrono::milliseconds> m_timeLimit;
};
