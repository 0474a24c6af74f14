#include "LoginItemLog.h"

Q_LOGGING_CATEGORY(lcLoginItem, "tarnwick.loginitem", QtWarningMsg)
