#include "UrlLauncher.h"

#include <QCoreApplication>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTimer>

namespace {

QStringList browserCommand(const QString &command, const QString &url)
{
    QStringList words = QProcess::splitCommand(command);
    bool placed = false;
    for (QString &word : words) {
        if (word.contains(QLatin1String("%s"))) {
            word.replace(QLatin1String("%s"), url);
            placed = true;
        }
    }
    if (!placed && !words.isEmpty())
        words.append(url);
    return words;
}

QList<QStringList> launchers(const QString &url)
{
    const QString browsers = QProcessEnvironment::systemEnvironment().value(QStringLiteral("BROWSER"));
    if (browsers.isEmpty())
        return {{QStringLiteral("xdg-open"), url}};
    QList<QStringList> commands;
    for (const QString &command : browsers.split(QLatin1Char(':'), Qt::SkipEmptyParts)) {
        if (QStringList words = browserCommand(command, url); !words.isEmpty())
            commands.append(words);
    }
    return commands;
}

Error launchFailure(const QString &cause)
{
    return Error{QStringLiteral("UrlLauncher"), 1, QStringLiteral("No browser could be opened: ") + cause};
}

QString failureCause(const QString &program, int code, QProcess::ExitStatus status)
{
    if (status != QProcess::NormalExit)
        return program + QStringLiteral(" crashed");
    // The shell's answers for a command it could not find or run.
    if (code == 127)
        return program + QStringLiteral(" was not found");
    if (code == 126)
        return program + QStringLiteral(" could not be run");
    return QStringLiteral("%1 exited with status %2").arg(program).arg(code);
}

// Starts the first remaining command; when it fails, the next one. The command runs under a shell that
// only waits for it: the shell is this program's child, so the exit status is seen, while the browser
// is not, so it stays open when this program quits and the shell is ended.
void launch(QList<QStringList> commands, UrlLauncher::Failure onFailure, QString lastCause)
{
    if (commands.isEmpty()) {
        const Error failed =
            launchFailure(lastCause.isEmpty() ? QStringLiteral("$BROWSER names no command") : lastCause);
        // Always later, never before open() has returned.
        if (onFailure)
            QTimer::singleShot(0, [onFailure, failed] { onFailure(failed); });
        return;
    }
    const QStringList command = commands.takeFirst();
    auto *process = new QProcess(QCoreApplication::instance());
    process->setProgram(QStringLiteral("/bin/sh"));
    process->setArguments(QStringList{QStringLiteral("-c"), QStringLiteral("\"$@\""), QStringLiteral("sh")} + command);
    process->setStandardInputFile(QProcess::nullDevice());
    process->setProcessChannelMode(QProcess::ForwardedChannels);
    QObject::connect(process, &QProcess::finished, process,
                     [process, commands, onFailure, program = command.first()](int code, QProcess::ExitStatus status) {
                         // The application is going and ends the shell on its way out: nothing is next.
                         if (QCoreApplication::closingDown())
                             return;
                         process->deleteLater();
                         if (status != QProcess::NormalExit || code != 0)
                             launch(commands, onFailure, failureCause(program, code, status));
                     });
    QObject::connect(process, &QProcess::errorOccurred, process,
                     [process, commands, onFailure](QProcess::ProcessError error) {
                         if (error != QProcess::FailedToStart || QCoreApplication::closingDown())
                             return;
                         process->deleteLater();
                         launch(commands, onFailure, QStringLiteral("/bin/sh: ") + process->errorString());
                     });
    process->start();
}

} // namespace

namespace UrlLauncher {

void open(const QUrl &url, Failure onFailure)
{
    launch(launchers(url.toString(QUrl::FullyEncoded)), std::move(onFailure), QString());
}

} // namespace UrlLauncher
