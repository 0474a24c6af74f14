#include "AppPaths.h"

#include <QDir>

namespace {

// $XDG_DATA_HOME when it holds an absolute path (relative values are invalid and ignored), else
// ~/.local/share.
QString userDataDirectory()
{
    const QString configured = qEnvironmentVariable("XDG_DATA_HOME");
    if (QDir::isAbsolutePath(configured))
        return QDir::cleanPath(configured);
    return QDir::homePath() + QStringLiteral("/.local/share");
}

} // namespace

QString AppPaths::applicationSupportDirectory()
{
    return userDataDirectory() + QStringLiteral("/Tarnwick");
}

QString AppPaths::config()
{
    return applicationSupportDirectory() + QStringLiteral("/config.json");
}

QString AppPaths::status()
{
    return applicationSupportDirectory() + QStringLiteral("/status.json");
}
