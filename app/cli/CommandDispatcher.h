#pragma once

#include <QString>
#include <QStringList>

// The commands of the `tarnwick` program that answer in the terminal, without a window or a display:
// `tarnwick status` and `tarnwick diagnose`. Each runs under a QCoreApplication of its own.
namespace CommandDispatcher {

// Exit statuses of the commands.
enum ExitStatus { success = 0, failed = 1, usageError = 2 };

// Whether the arguments (program name first) name one of the commands.
bool isCommand(const QStringList &arguments);

// Runs the command the arguments name and answers its exit status.
int run(int argc, char *argv[]);

// The commands' lines for `tarnwick --help`.
QString summary();

} // namespace CommandDispatcher
