#include "CredentialsLog.h"

Q_LOGGING_CATEGORY(lcCredentials, "tarnwick.credentials", QtWarningMsg)
