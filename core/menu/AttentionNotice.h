#pragma once

#include "status/HelperStatus.h"

#include <QDateTime>
#include <QString>

#include <optional>

// When the helper tells the user, outside its tray, that Tarnwick needs attention: stock desktops may show
// no tray at all. A notice goes out once when the runner comes to need attention or the service rejects
// the credential, and not again until the helper has been ready for tasks in between (a runner that keeps
// crashing, a status rewritten every few seconds or every heartbeat adds none); once ready, the notice is
// withdrawn. Starting and stopping change nothing.
struct AttentionNotice
{
    enum class Action { none, show, withdraw };

    // A notice is out (shown and not yet withdrawn).
    bool shown = false;

    // Takes the state as the menu sees it and answers what to do with the notice.
    Action update(const std::optional<HelperStatus> &helperStatus, bool credentialInvalid, const QDateTime &now);

    // The notice's text: the status's own message, or the disconnected message for a rejected credential.
    static QString body(const std::optional<HelperStatus> &helperStatus, bool credentialInvalid);

    friend bool operator==(const AttentionNotice &, const AttentionNotice &) = default;
};
