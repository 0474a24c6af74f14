#pragma once

#include <QLoggingCategory>

// The setup application's desktop adapters: single instance, file chooser, network state.
Q_DECLARE_LOGGING_CATEGORY(lcDesktop)
