#include "HelperInstanceLock.h"
#include "RuntimeFile.h"

#include <QFile>

#include <cerrno>
#include <thread>
#include <utility>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace std::chrono_literals;

namespace {

constexpr auto pollInterval = 50ms;

Error lockError(int code, const QString &description)
{
    return Error{QStringLiteral("HelperInstanceLock"), code, description};
}

// Opens the lock file without following a symlink and accepts it only as a regular file of this user, so
// nobody else sharing the temporary directory can plant one for us.
Result<int> openOwnedFile(int flags)
{
    const QByteArray filePath = QFile::encodeName(HelperInstanceLock::path());
    const int fd = ::open(filePath.constData(), flags | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0)
        return failure(Error::posix(errno, HelperInstanceLock::path()));
    struct stat info = {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_uid != ::getuid()) {
        ::close(fd);
        return failure(
            lockError(EPERM, HelperInstanceLock::path() + QStringLiteral(": not a regular file of this user")));
    }
    return fd;
}

bool writePid(int fd)
{
    const QByteArray text = QByteArray::number(qint64(::getpid())) + '\n';
    return ::ftruncate(fd, 0) == 0 && ::pwrite(fd, text.constData(), size_t(text.size()), 0) == text.size();
}

} // namespace

QString HelperInstanceLock::path()
{
    return RuntimeFile::path(QStringLiteral("tarnwick-helper"), QStringLiteral("lock"));
}

std::optional<qint64> HelperInstanceLock::runningHelperPid()
{
    const Result<int> fd = openOwnedFile(O_RDONLY);
    if (!fd)
        return std::nullopt;
    std::optional<qint64> pid;
    if (::flock(*fd, LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
        char buffer[32] = {};
        const ssize_t length = ::pread(*fd, buffer, sizeof buffer - 1, 0);
        bool ok = false;
        const qint64 value = length > 0 ? QByteArray(buffer, length).trimmed().toLongLong(&ok) : 0;
        if (ok && value > 0)
            pid = value;
    }
    ::close(*fd);
    return pid;
}

Result<HelperInstanceLock> HelperInstanceLock::acquire(std::chrono::milliseconds timeout)
{
    const Result<int> fd = openOwnedFile(O_RDWR | O_CREAT);
    if (!fd)
        return failure(fd.error());
    HelperInstanceLock lock(*fd);
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (::flock(*fd, LOCK_EX | LOCK_NB) != 0) {
        if (errno != EWOULDBLOCK && errno != EINTR)
            return failure(Error::posix(errno, path()));
        if (std::chrono::steady_clock::now() >= deadline)
            return failure(lockError(EWOULDBLOCK, QStringLiteral("Another Tarnwick helper is running.")));
        std::this_thread::sleep_for(pollInterval);
    }
    if (!writePid(*fd))
        return failure(Error::posix(errno, path()));
    return lock;
}

HelperInstanceLock::HelperInstanceLock(HelperInstanceLock &&other) noexcept
    : m_fd(std::exchange(other.m_fd, -1))
{
}

HelperInstanceLock &HelperInstanceLock::operator=(HelperInstanceLock &&other) noexcept
{
    std::swap(m_fd, other.m_fd);
    return *this;
}

HelperInstanceLock::~HelperInstanceLock()
{
    if (m_fd >= 0)
        ::close(m_fd);
}
