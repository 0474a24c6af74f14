#include "RunnerSupervisionPolicy.h"

#include <QtGlobal>

bool RunnerSupervisionPolicy::shouldRelaunch(RunnerExitReason reason)
{
    switch (reason) {
    case RunnerExitReason::crash:
    case RunnerExitReason::configurationChanged: return true;
    case RunnerExitReason::quit: return false;
    }
    Q_UNREACHABLE();
    return false;
}
