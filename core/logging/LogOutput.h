#pragma once

// Where both programs' messages go: standard error, which the session's journal keeps for programs
// started from autostart. Every line passes the status redactor first, so no message of Tarnwick or of
// a library it calls can carry a credential.
namespace LogOutput {

// Installs the message handler. Warnings and worse show by default; `verbose` shows Tarnwick's info and
// debug messages too. QT_LOGGING_RULES and QT_MESSAGE_PATTERN still override both.
void install(bool verbose);

}
