#pragma once

#include "model/NetworkMonitoring.h"

// The network state as the test reports it; silent until then.
class ScriptedNetworkMonitor final : public NetworkMonitoring
{
public:
    void start() override { }
    void report(bool satisfied) { Q_EMIT reachabilityChanged(satisfied); }
};
