#pragma once

#include "model/AppModel.h"

// Parts for an AppModel that stays on this machine: configuration and credential in memory, no network
// monitor, sign-in or folder chooser, a service address nobody answers. For benchmarks only.
AppModelParts benchAppParts();
