#include "SetupLog.h"

Q_LOGGING_CATEGORY(lcSetup, "tarnwick.setup", QtWarningMsg)
