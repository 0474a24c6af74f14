#pragma once

#include "config/AppConfig.h"

#include <QString>

// A finished setup on this test's machine: a device credential in the session's keyring and a
// configuration for the same device whose folder is the test's home.
namespace PairedSetup {

QString credential();
AppConfig config(const QString &apiUrl = QStringLiteral("http://127.0.0.1:9/"));

// Stores the credential and writes the configuration; false when either fails.
[[nodiscard]] bool write(const QString &apiUrl = QStringLiteral("http://127.0.0.1:9/"));

} // namespace PairedSetup
