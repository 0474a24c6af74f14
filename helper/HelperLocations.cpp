#include "HelperLocations.h"

#include <QFile>
#include <QFileInfo>

#include <sys/stat.h>

namespace {

QString withoutLastComponents(QString path, int count)
{
    for (int i = 0; i < count; ++i)
        path = QFileInfo(path).path();
    return path;
}

} // namespace

QString HelperLocations::helperBundle()
{
    const QString executable = QFileInfo(QStringLiteral("/proc/self/exe")).symLinkTarget();
    return withoutLastComponents(executable, 3);
}

QString HelperLocations::mainAppBundle()
{
    const QString overridden = qEnvironmentVariable("TWK_MAIN_APP_BUNDLE");
    if (!overridden.isEmpty())
        return overridden;
    return withoutLastComponents(helperBundle(), 4);
}

std::optional<QDateTime> HelperLocations::modificationDate(const QString &path)
{
    struct stat info = {};
    if (::lstat(QFile::encodeName(path).constData(), &info) != 0)
        return std::nullopt;
    const qint64 milliseconds = qint64(info.st_mtim.tv_sec) * 1000 + info.st_mtim.tv_nsec / 1'000'000;
    return QDateTime::fromMSecsSinceEpoch(milliseconds, Qt::UTC);
}
