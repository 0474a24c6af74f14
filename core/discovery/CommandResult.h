#pragma once

#include <QString>

// How an outside command ended: its exit status (-1 when it could not be started or was cut off) and
// everything it printed on standard output and standard error, interleaved as it arrived.
struct CommandResult
{
    int exitCode = 0;
    QString output;

    friend bool operator==(const CommandResult &, const CommandResult &) = default;
};
