#include "SupervisorLog.h"

Q_LOGGING_CATEGORY(lcSupervisor, "tarnwick.supervisor", QtWarningMsg)
