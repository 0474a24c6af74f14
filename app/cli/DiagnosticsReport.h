#pragma once

#include <QDateTime>
#include <QStringList>

// `tarnwick diagnose`: a plain-text report for a support request. It names the versions, the desktop
// services Tarnwick leans on, the login item, the configuration (paths and settings, nothing secret), the
// status, the coding-agent check and the helper's recent log lines. Every line passes the status
// redactor, and the keyring is asked only whether the credential is there, never for it.
namespace DiagnosticsReport {

// Reads everything afresh; runs the agent check (up to its time limit per command) and the journal.
QStringList collect(const QDateTime &now);

} // namespace DiagnosticsReport
