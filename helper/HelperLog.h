#pragma once

#include <QLoggingCategory>

// The helper program's start and end.
Q_DECLARE_LOGGING_CATEGORY(lcHelper)
