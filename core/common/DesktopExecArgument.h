#pragma once

#include <QString>

// One argument of a desktop entry's Exec value: quoted when it holds a reserved character, with the
// characters special inside quotes escaped and "%" doubled, then escaped once more as the entry's string
// value (a backslash doubled). The autostart entry the setup application writes and the launcher entry the
// install rules write (through the tarnwick-exec-argument tool) both quote their program with it.
QString quotedExecArgument(const QString &argument);
