#pragma once

#include <QLoggingCategory>

// The tray menu: its task activity, and what its entries open.
Q_DECLARE_LOGGING_CATEGORY(lcMenu)
