#pragma once

#include <QLoggingCategory>

// The helper's autostart entry and the helper it starts and stops.
Q_DECLARE_LOGGING_CATEGORY(lcLoginItem)
