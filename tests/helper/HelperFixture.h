#pragma once

#include "HelperParts.h"

#include <QByteArray>
#include <QList>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>

// What every helper test starts from: a finished setup (the device credential in the session's unlocked
// keyring, a configuration for that device, an otherwise empty Tarnwick data directory) and a stand-in
// for Tarnwick.app, made the helper's main bundle through TWK_MAIN_APP_BUNDLE. The bundle's runtime is a
// shell script chosen by the test; it plays the runtime and the runner at once and records what it saw in
// its working directory, the data directory. Set-up failures fail the running test (build it in init()).
class HelperFixture
{
public:
    HelperFixture();

    static QString credential()
    {
        return QStringLiteral("twk_device_3F2504E0-4F89-41D3-9A0C-0305E82C3301."
                              "abcdefghijklmnopqrstuvwxyz_ABCDEFGHIJKLMNOP");
    }
    // The helper's own parts, on the session's keyring and the data directory; the tray's logo does not
    // load, so the icon names the state's symbol.
    static HelperParts systemParts(RunnerSupervisorTiming timing = {});
    [[nodiscard]] static bool writeConfig(const QString &apiUrl = QStringLiteral("http://127.0.0.1:9/"));

    QString runtimePath() const { return m_bundle.filePath(QStringLiteral("Contents/Resources/runtime/node")); }
    QString scriptPath() const { return m_bundle.filePath(QStringLiteral("Contents/Resources/runner/runner.js")); }
    void setRuntime(const QByteArray &scriptBody);
    // The setup application as a script that records the activation token it was started with in
    // "opened" beside it.
    void recordSetupAppStarts();
    QByteArray setupAppStart() const;

    // Records its pid, arguments, working directory, environment and standard input, then sleeps.
    static constexpr const char *wellBehavedRunner = "printf '%s\\n' \"$@\" > arguments\npwd > directory\n"
                                                     "cat /proc/$$/environ > environment\ncat > input\n"
                                                     "echo $$ >> launches\nexec sleep 600\n";
    // Records its pid, takes its input, then ignores SIGTERM (noting each one in "terms").
    static constexpr const char *stubbornRunner =
        "trap 'echo term >> terms' TERM\ncat > /dev/null\necho $$ >> launches\nwhile :; do sleep 0.02; done\n";
    // Records its pid, takes its input and exits by itself.
    static constexpr const char *crashingRunner = "cat > /dev/null\necho $$ >> launches\nexit 0\n";

private:
    QTemporaryDir m_bundle;
};

// Starts the helper program and waits for its runner, the `launch`th of the test; answers the runner's pid
// (0 when none came).
qint64 startHelper(QProcess &helper, qsizetype launch = 1);

// A file the runner scripts wrote into the data directory ("" when it is not there).
QByteArray runnerRecord(const QString &name);
// The pids listed in the "launches" record, one per launch.
QList<qint64> runnerLaunches();

// The fields of /proc/<pid>/stat after the command name (state, parent pid, …); none once it is gone.
QByteArrayList processStat(qint64 pid);
// Gone, or ended and waiting only to be reaped.
bool hasEnded(qint64 pid);
