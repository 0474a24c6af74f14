#pragma once

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

// A stand-in for Tarnwick.app in a temporary folder, made the helper's main bundle through
// TWK_MAIN_APP_BUNDLE: Contents/Resources/runtime/node is a shell script chosen by the test (it plays the
// runtime and the runner at once), Contents/Resources/runner/runner.js exists. The scripts record what they
// saw in their working directory, the Tarnwick data directory.
class RunnerBundle
{
public:
    RunnerBundle();
    ~RunnerBundle();

    QString path() const;
    QString runtimePath() const;
    QString scriptPath() const;

    // Writes the runtime as an executable `#!/bin/sh` script with this body.
    void setRuntime(const QByteArray &scriptBody);
    // Writes a file of the bundle (relative path), executable or not.
    void writeFile(const QString &relativePath, const QByteArray &contents, bool executable);

    // Records its pid, arguments, working directory, environment and standard input, then sleeps.
    static QByteArray wellBehavedRunner();
    // Records its pid, takes its input, then ignores SIGTERM (noting each one in "terms").
    static QByteArray stubbornRunner();
    // Records its pid, takes its input and exits by itself.
    static QByteArray crashingRunner();

private:
    QTemporaryDir m_directory;
};

// A file the runner scripts wrote into the Tarnwick data directory ("" when it is not there).
QByteArray runnerRecord(const QString &name);
// The pids listed in the "launches" record, one per launch.
QList<qint64> runnerLaunches();
bool processExists(qint64 pid);
