#include "MenuLog.h"

Q_LOGGING_CATEGORY(lcMenu, "tarnwick.menu", QtWarningMsg)
