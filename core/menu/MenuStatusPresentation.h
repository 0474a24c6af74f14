#pragma once

#include "loginitem/LoginItemState.h"
#include "status/HelperStatus.h"

#include <QDateTime>
#include <QString>

#include <optional>

// The status line at the top of the helper's menu and the symbol that stands for it. `systemImageName`
// names a symbol; the menu maps it to a bundled icon.
struct MenuStatusPresentation
{
    QString title;
    QString systemImageName;

    // "Ready for tasks", "laptopcomputer".
    static MenuStatusPresentation ready();
    // "Starting runner…", "laptopcomputer".
    static MenuStatusPresentation starting();
    // "Needs attention", "exclamationmark.triangle.fill".
    static MenuStatusPresentation attention();

    // A rejected credential or a login item that is not enabled needs attention whatever the status says;
    // otherwise a fresh connected status is ready, a stopped or failed runner needs attention, and anything
    // else (no status yet, starting, a stale heartbeat) is starting.
    static MenuStatusPresentation make(const std::optional<HelperStatus> &helperStatus, LoginItemState loginItemState,
                                       bool credentialInvalid, const QDateTime &now);

    friend bool operator==(const MenuStatusPresentation &, const MenuStatusPresentation &) = default;
};
