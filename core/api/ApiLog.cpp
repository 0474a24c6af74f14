#include "ApiLog.h"

Q_LOGGING_CATEGORY(lcApi, "tarnwick.api", QtWarningMsg)
