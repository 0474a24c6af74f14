#include "DesktopLog.h"

Q_LOGGING_CATEGORY(lcDesktop, "tarnwick.desktop", QtWarningMsg)
