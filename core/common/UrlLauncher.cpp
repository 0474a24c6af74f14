#include "UrlLauncher.h"

#include <QProcess>
#include <QProcessEnvironment>

namespace {

bool startBrowserCommand(const QString &command, const QString &url)
{
    QStringList words = QProcess::splitCommand(command);
    if (words.isEmpty())
        return false;
    bool placed = false;
    for (QString &word : words) {
        if (word.contains(QLatin1String("%s"))) {
            word.replace(QLatin1String("%s"), url);
            placed = true;
        }
    }
    if (!placed)
        words.append(url);
    const QString program = words.takeFirst();
    return QProcess::startDetached(program, words);
}

} // namespace

namespace UrlLauncher {

bool open(const QUrl &url)
{
    const QString browsers = QProcessEnvironment::systemEnvironment().value(QStringLiteral("BROWSER"));
    if (!browsers.isEmpty()) {
        const QString text = url.toString(QUrl::FullyEncoded);
        for (const QString &command : browsers.split(QLatin1Char(':'), Qt::SkipEmptyParts)) {
            if (startBrowserCommand(command, text))
                return true;
        }
        return false;
    }
    return QProcess::startDetached(QStringLiteral("xdg-open"), {url.toString(QUrl::FullyEncoded)});
}

} // namespace UrlLauncher
