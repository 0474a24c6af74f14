#pragma once

#include <QLoggingCategory>

// The Secret Service's failures, with the cause its status code leaves out.
Q_DECLARE_LOGGING_CATEGORY(lcCredentials)
