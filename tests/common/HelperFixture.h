#pragma once

#include "HelperParts.h"
#include "MemoryCredentialStore.h"
#include "status/HelperStatus.h"

#include <QProcess>
#include <QTemporaryDir>

#include <memory>

// A finished setup (the device credential, a configuration for that device in an otherwise empty data
// directory) and a stand-in Tarnwick.app whose runtime is a shell script chosen by the test: it plays the
// runner, records what it saw in its working directory (the data directory), and notes in "overlaps" every
// earlier runner still alive when it starts. The credential is in `credentialStore` and, `inKeyring`, in
// the session's keyring for the helper as a program. Build it in init(): set-up failures fail the test.
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

    // Every delay of the supervisor scaled down in the order of the real ones (the kill before the
    // relaunch); slow enough that a loaded machine keeps the order of events.
    static constexpr RunnerSupervisorTiming fastTiming{std::chrono::milliseconds(50), std::chrono::milliseconds(300),
                                                       std::chrono::milliseconds(250), std::chrono::milliseconds(100),
                                                       std::chrono::milliseconds(100)};
    // The parts of a helper in this process; the tray's logo does not load, so its icon names the state.
    HelperParts parts(RunnerSupervisorTiming timing = fastTiming) const;
    const std::shared_ptr<MemoryCredentialStore> credentialStore = std::make_shared<MemoryCredentialStore>();

    QString runtimePath() const { return m_bundle.filePath(QStringLiteral("Contents/Resources/runtime/node")); }
    QString scriptPath() const { return m_bundle.filePath(QStringLiteral("Contents/Resources/runner/runner.js")); }
    QString setupAppPath() const { return m_bundle.filePath(QStringLiteral("Contents/MacOS/Tarnwick")); }
    // The runtime's script; at first one that records in "seen" its standard input, arguments, working
    // directory and environment (sorted), then its pid, and sleeps.
    void setRuntime(const QByteArray &scriptBody);
    // Records its pid, takes its input (unless told `ignoreInput`), then ignores SIGTERM, noting each one in
    // "terms".
    static QByteArray stubbornRunner(bool ignoreInput = false)
    {
        return QByteArray("trap 'echo term >> terms' TERM\necho $$ >> launches\n")
               + (ignoreInput ? "" : "cat > /dev/null\n") + "while :; do sleep 0.02; done\n";
    }

private:
    QTemporaryDir m_bundle;
};

// Starts the helper program and waits for the test's `launch`th runner; answers its pid (0 when none came).
qint64 startHelper(QProcess &helper, qsizetype launch = 1);
// A file the runner scripts wrote into the data directory ("" when it is not there).
QByteArray runnerRecord(const QString &name);
// The pids in the "launches" record, one per launch.
QList<qint64> runnerLaunches();
// The fields of /proc/<pid>/stat after the command name (state, parent pid, …); none once it is gone.
QByteArrayList processStat(qint64 pid);
// Gone, or ended and waiting only to be reaped.
bool hasEnded(qint64 pid);
// Waits for that without running the event loop, polling finely so a measured time is not blurred.
bool waitUntilEnded(qint64 pid);
// The status file's status; absent when it is missing or unreadable.
std::optional<HelperStatus> savedStatus();
