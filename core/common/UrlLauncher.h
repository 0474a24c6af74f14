#pragma once

#include <QUrl>

// Opens a URL the way a Unix user expects: the commands in $BROWSER (colon-separated, "%s" standing
// for the URL, else the URL appended) when it is set, else the desktop's default handler (xdg-open).
// Answers whether a program could be started for it.
namespace UrlLauncher {

bool open(const QUrl &url);

} // namespace UrlLauncher
