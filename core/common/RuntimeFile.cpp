#include "RuntimeFile.h"

#include <QDir>
#include <QFileInfo>

#include <unistd.h>

QString RuntimeFile::path(const QString &stem, const QString &extension)
{
    const QString runtimeDirectory = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!runtimeDirectory.isEmpty() && QFileInfo(runtimeDirectory).isDir())
        return QDir(runtimeDirectory).filePath(stem + u'.' + extension);
    return QDir(QDir::tempPath())
        .filePath(QStringLiteral("%1-%2.%3").arg(stem).arg(qulonglong(::getuid())).arg(extension));
}
