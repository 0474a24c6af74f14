#pragma once

#include "supervision/RunnerSupervisionPolicy.h"

#include <chrono>

// Every duration the runner supervisor waits for, in one place so that tests can run it faster.
struct RunnerSupervisorTiming
{
    std::chrono::milliseconds firstHeartbeat{1000};
    std::chrono::milliseconds heartbeatInterval{15000};
    std::chrono::milliseconds relaunchDelay{static_cast<long long>(RunnerSupervisionPolicy::relaunchDelay * 1000)};
    std::chrono::milliseconds killDelay{2000};
    // The credential is a few dozen bytes into an empty pipe; a runner that has not taken them by then is
    // not going to.
    std::chrono::milliseconds handOverTimeout{2000};
};
