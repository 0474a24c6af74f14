#pragma once

#include "HelperParts.h"
#include "MemoryCredentialStore.h"
#include "status/HelperStatus.h"

#include <QByteArray>
#include <QList>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>

#include <memory>

// What every helper test starts from: a finished setup (the device credential, a configuration for that
// device in an otherwise empty Tarnwick data directory) and a stand-in for Tarnwick.app, made the helper's
// main bundle. The bundle's runtime is a shell script chosen by the test; it plays the runtime and the
// runner at once and records what it saw in its working directory, the data directory, and notes in
// "overlaps" every earlier runner still alive when it starts. The credential is in `credentialStore` for
// the parts of a helper in this process and, with `inKeyring`, also in the session's keyring for the
// helper as a program. Set-up failures fail the running test (build it in init()).
class HelperFixture
{
public:
    enum class Credential { inMemory, inKeyring };

    explicit HelperFixture(Credential where = Credential::inKeyring);

    static QString credential()
    {
        return QStringLiteral("twk_device_3F2504E0-4F89-41D3-9A0C-0305E82C3301."
                              "abcdefghijklmnopqrstuvwxyz_ABCDEFGHIJKLMNOP");
    }
    // How long a helper test waits for anything, in milliseconds.
    static constexpr int patience = 20000;
    [[nodiscard]] static bool writeConfig(const QString &apiUrl = QStringLiteral("http://127.0.0.1:9/"));

    // Every delay of the supervisor scaled down, in the order of the real ones (the kill before the
    // relaunch); slow enough that a loaded machine keeps the order of events.
    static constexpr RunnerSupervisorTiming fastTiming{std::chrono::milliseconds(50), std::chrono::milliseconds(300),
                                                       std::chrono::milliseconds(250), std::chrono::milliseconds(100),
                                                       std::chrono::milliseconds(100)};
    // The parts of a helper in this process: the credential store below, the real files, the stand-in
    // bundle, a client of the real service; the tray's logo does not load, so its icon names the state.
    HelperParts parts(RunnerSupervisorTiming timing = fastTiming) const;
    const std::shared_ptr<MemoryCredentialStore> credentialStore = std::make_shared<MemoryCredentialStore>();

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
    // Records its pid, takes its input (unless told `ignoreInput`), then ignores SIGTERM (noting each one
    // in "terms").
    static QByteArray stubbornRunner(bool ignoreInput = false)
    {
        return QByteArray("trap 'echo term >> terms' TERM\necho $$ >> launches\n")
               + (ignoreInput ? "" : "cat > /dev/null\n") + "while :; do sleep 0.02; done\n";
    }
    // Records its pid, takes its input and exits by itself.
    static constexpr const char *crashingRunner = "echo $$ >> launches\ncat > /dev/null\nexit 0\n";

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
// Waits for that without running the event loop, polling finely so a measured time is not blurred.
bool waitUntilEnded(qint64 pid);
// The status file's status; absent when it is missing or unreadable.
std::optional<HelperStatus> savedStatus();
