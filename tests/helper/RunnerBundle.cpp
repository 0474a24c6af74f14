#include "RunnerBundle.h"

#include "config/AppPaths.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <csignal>

RunnerBundle::RunnerBundle()
{
    writeFile(QStringLiteral("Contents/Resources/runner/runner.js"), "// stand-in\n", false);
    setRuntime(wellBehavedRunner());
    qputenv("TWK_MAIN_APP_BUNDLE", QFile::encodeName(path()));
}

RunnerBundle::~RunnerBundle()
{
    qunsetenv("TWK_MAIN_APP_BUNDLE");
}

QString RunnerBundle::path() const
{
    return m_directory.path();
}

QString RunnerBundle::runtimePath() const
{
    return m_directory.filePath(QStringLiteral("Contents/Resources/runtime/node"));
}

QString RunnerBundle::scriptPath() const
{
    return m_directory.filePath(QStringLiteral("Contents/Resources/runner/runner.js"));
}

void RunnerBundle::setRuntime(const QByteArray &scriptBody)
{
    writeFile(QStringLiteral("Contents/Resources/runtime/node"), "#!/bin/sh\n" + scriptBody, true);
}

void RunnerBundle::writeFile(const QString &relativePath, const QByteArray &contents, bool executable)
{
    const QString filePath = m_directory.filePath(relativePath);
    QDir().mkpath(QFileInfo(filePath).path());
    QFile file(filePath);
    file.remove();
    if (!file.open(QIODevice::WriteOnly) || file.write(contents) != contents.size())
        qFatal("cannot write %s", qPrintable(filePath));
    file.close();
    QFile::Permissions permissions = QFile::ReadOwner | QFile::WriteOwner;
    if (executable)
        permissions |= QFile::ExeOwner;
    file.setPermissions(permissions);
}

QByteArray RunnerBundle::wellBehavedRunner()
{
    return "printf '%s\\n' \"$@\" > arguments\n"
           "pwd > directory\n"
           "cat /proc/$$/environ > environment\n"
           "cat > input\n"
           "echo $$ >> launches\n"
           "exec sleep 600\n";
}

QByteArray RunnerBundle::stubbornRunner()
{
    return "trap 'echo term >> terms' TERM\n"
           "cat > /dev/null\n"
           "echo $$ >> launches\n"
           "while :; do sleep 0.02; done\n";
}

QByteArray RunnerBundle::crashingRunner()
{
    return "cat > /dev/null\n"
           "echo $$ >> launches\n"
           "exit 0\n";
}

QByteArray runnerRecord(const QString &name)
{
    QFile file(QDir(AppPaths::applicationSupportDirectory()).filePath(name));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QList<qint64> runnerLaunches()
{
    QList<qint64> pids;
    for (const QByteArray &line : runnerRecord(QStringLiteral("launches")).split('\n')) {
        if (!line.isEmpty())
            pids.append(line.toLongLong());
    }
    return pids;
}

bool processExists(qint64 pid)
{
    return ::kill(pid_t(pid), 0) == 0;
}
