#include "HelperLog.h"

Q_LOGGING_CATEGORY(lcHelper, "tarnwick.helper", QtWarningMsg)
