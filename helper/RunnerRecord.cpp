#include "RunnerRecord.h"

#include "common/AtomicFile.h"
#include "common/RuntimeFile.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QThread>

#include <cerrno>
#include <csignal>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace std::chrono_literals;

namespace {

struct Recorded
{
    qint64 pid = 0;
    quint64 startTime = 0;
};

// A record is a few dozen bytes; anything much larger is not one.
constexpr qsizetype maximumRecordSize = 64;
constexpr auto pollInterval = 20ms;

Error recordError(const QString &description)
{
    return Error{QStringLiteral("RunnerRecord"), EINVAL, RunnerRecord::path() + QStringLiteral(": ") + description};
}

// The fields of /proc/PID/stat after the command name, which may itself hold blanks and parentheses.
QByteArrayList statFields(qint64 pid)
{
    QFile file(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray stat = file.readAll();
    const qsizetype end = stat.lastIndexOf(')');
    return end < 0 ? QByteArrayList() : stat.mid(end + 2).trimmed().split(' ');
}

// Only a regular file of this user counts: in the temporary directory another user could plant one.
Result<std::optional<QByteArray>> readOwnRecord()
{
    const int fd = ::open(QFile::encodeName(RunnerRecord::path()).constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) {
        if (errno == ENOENT)
            return std::optional<QByteArray>();
        return failure(Error::posix(errno, RunnerRecord::path()));
    }
    struct stat info = {};
    char buffer[maximumRecordSize + 1] = {};
    const bool owned = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_uid == ::getuid();
    const ssize_t length = owned ? ::read(fd, buffer, sizeof buffer) : -1;
    ::close(fd);
    if (!owned)
        return failure(recordError(QStringLiteral("not a regular file of this user")));
    if (length < 0 || length > maximumRecordSize)
        return failure(recordError(QStringLiteral("unreadable or too large")));
    return std::optional<QByteArray>(QByteArray(buffer, length));
}

Result<std::optional<Recorded>> load()
{
    const Result<std::optional<QByteArray>> contents = readOwnRecord();
    if (!contents)
        return failure(contents.error());
    if (!*contents)
        return std::optional<Recorded>();
    const QByteArrayList fields = (*contents)->trimmed().split(' ');
    bool pidOk = false;
    bool startOk = false;
    Recorded recorded;
    if (fields.size() == 2) {
        recorded.pid = fields[0].toLongLong(&pidOk);
        recorded.startTime = fields[1].toULongLong(&startOk);
    }
    // Never 0, 1 or a negative number: kill() would take those for a group or every process.
    if (!pidOk || !startOk || recorded.pid <= 1)
        return failure(recordError(QStringLiteral("malformed record")));
    return std::optional<Recorded>(recorded);
}

bool isRunning(const Recorded &runner)
{
    return RunnerRecord::startTimeOf(runner.pid) == runner.startTime;
}

bool waitUntilGone(const Recorded &runner, std::chrono::milliseconds patience)
{
    const QDeadlineTimer deadline(patience);
    while (isRunning(runner)) {
        if (deadline.hasExpired())
            return false;
        QThread::msleep(pollInterval.count());
    }
    return true;
}

} // namespace

QString RunnerRecord::path()
{
    return RuntimeFile::path(QStringLiteral("tarnwick-runner"), QStringLiteral("pid"));
}

std::optional<quint64> RunnerRecord::startTimeOf(qint64 pid)
{
    // Field 3 of the stat line is the state, field 22 the start time.
    const QByteArrayList fields = statFields(pid);
    constexpr qsizetype startTimeIndex = 22 - 3;
    if (fields.size() <= startTimeIndex || fields[0] == "Z" || fields[0] == "X")
        return std::nullopt;
    bool ok = false;
    const quint64 startTime = fields[startTimeIndex].toULongLong(&ok);
    return ok ? std::optional(startTime) : std::nullopt;
}

Result<void> RunnerRecord::save(qint64 pid)
{
    const std::optional<quint64> startTime = startTimeOf(pid);
    if (!startTime)
        return failure(recordError(QStringLiteral("process %1 is not running").arg(pid)));
    const QByteArray text = QByteArray::number(pid) + ' ' + QByteArray::number(*startTime) + '\n';
    // The session directory is memory-backed: nothing to flush.
    return AtomicFile::replace(path(), text, AtomicFile::Durability::unflushed);
}

Result<void> RunnerRecord::removeIfNaming(qint64 pid)
{
    const Result<std::optional<Recorded>> recorded = load();
    if (recorded && *recorded && (*recorded)->pid != pid)
        return {};
    return AtomicFile::removeIfPresent(path());
}

Result<bool> RunnerRecord::stopRecordedRunner(std::chrono::milliseconds killDelay)
{
    const Result<std::optional<Recorded>> recorded = load();
    if (!recorded)
        return failure(recorded.error());
    bool wasRunning = false;
    if (*recorded && isRunning(**recorded)) {
        wasRunning = true;
        const Recorded &runner = **recorded;
        ::kill(pid_t(runner.pid), SIGTERM);
        if (!waitUntilGone(runner, killDelay) && isRunning(runner)) {
            ::kill(pid_t(runner.pid), SIGKILL);
            waitUntilGone(runner, killDelay);
        }
    }
    if (const Result<void> removed = AtomicFile::removeIfPresent(path()); !removed)
        return failure(removed.error());
    return wasRunning;
}
