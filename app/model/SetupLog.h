#pragma once

#include <QLoggingCategory>

// The setup application's steps: sign-in, pairing, coding agents, folders, the helper, log-out.
Q_DECLARE_LOGGING_CATEGORY(lcSetup)
