// tarnwick-exec-argument PATH: prints PATH as one argument of a desktop entry's Exec value. The install
// rules run it for the launcher entry, which thus quotes the program exactly as the autostart entry does.

#include "common/DesktopExecArgument.h"

#include <cstdio>

int main(int argc, char *argv[])
{
    if (argc != 2) {
        std::fputs("Usage: tarnwick-exec-argument PATH\n", stderr);
        return 2;
    }
    std::fputs(qUtf8Printable(quotedExecArgument(QString::fromUtf8(argv[1]))), stdout);
    return 0;
}
