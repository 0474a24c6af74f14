#pragma once

#include "platform/InstanceMessage.h"

#include <QByteArray>
#include <optional>

class QWindow;

// Brings the window to the front on behalf of the start that asked for it, handing its activation token
// to the display server: without one a compositor or window manager keeps the window behind the
// program the user last used (the browser, after a sign-in).
namespace WindowActivation {

void activate(QWindow *window, const InstanceMessage &message);

// The X server time of the user action that launched the start, from a startup id "…_TIME<time>".
std::optional<quint32> startupTime(const QByteArray &startupId);

} // namespace WindowActivation
