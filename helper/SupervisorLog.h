#pragma once

#include <QLoggingCategory>

// The runner's launches, exits, relaunches and stops, and the status file they write.
Q_DECLARE_LOGGING_CATEGORY(lcSupervisor)
