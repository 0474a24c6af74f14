#pragma once

#include <QLoggingCategory>

// Requests to the device API and their outcomes.
Q_DECLARE_LOGGING_CATEGORY(lcApi)
