#pragma once

#include "discovery/CommandResult.h"

#include <QStringList>

// Runs an outside program to completion. Every failure is folded into the result; the call blocks until
// the program has ended, so callers keep it off the user-interface thread.
class CommandRunning
{
public:
    virtual ~CommandRunning() = default;

    // `executable` is the program's path, used as given (no search); `arguments` reach the program one
    // element per argument, with no shell in between.
    virtual CommandResult run(const QString &executable, const QStringList &arguments) const = 0;
};
