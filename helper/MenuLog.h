#pragma once

#include <QLoggingCategory>

// The tray item and its menu: the tray's arrival, task activity, what the entries open, notifications.
Q_DECLARE_LOGGING_CATEGORY(lcMenu)
