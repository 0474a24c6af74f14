#pragma once

#include "common/Error.h"

#include <QUrl>

#include <functional>

// Opens a URL the way a Unix user expects: the commands in $BROWSER (colon-separated, "%s" standing
// for the URL, else the URL appended) when it is set, each tried in turn until one starts and does not
// fail, else the desktop's default handler (xdg-open).
namespace UrlLauncher {

using Failure = std::function<void(const Error &)>;

// Returns at once. `onFailure`, when given, is called later on this thread if no program took the URL:
// none could be started, or every one exited with a non-zero status (xdg-open does when no handler is
// set up). A launcher that keeps running (a browser started in the foreground) counts as taking it.
void open(const QUrl &url, Failure onFailure = {});

} // namespace UrlLauncher
