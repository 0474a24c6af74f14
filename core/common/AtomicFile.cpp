#include "AtomicFile.h"

#include <QFileInfo>

#include <cerrno>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr mode_t ownerReadWrite = S_IRUSR | S_IWUSR; // 0600
constexpr qint64 maximumReadBytes = 1024 * 1024;

Error lastError(const QString &context)
{
    return Error::posix(errno, context);
}

// Closes the descriptor on every path out of a function.
class FileDescriptor
{
public:
    explicit FileDescriptor(int descriptor)
        : m_descriptor(descriptor)
    {
    }
    ~FileDescriptor()
    {
        if (m_descriptor >= 0)
            ::close(m_descriptor);
    }
    FileDescriptor(const FileDescriptor &) = delete;
    FileDescriptor &operator=(const FileDescriptor &) = delete;

    int get() const { return m_descriptor; }
    // close() can report a deferred write error, so the writer checks it.
    int release()
    {
        const int result = ::close(m_descriptor);
        m_descriptor = -1;
        return result;
    }

private:
    int m_descriptor;
};

Result<void> createDirectories(const QString &directory)
{
    std::error_code error;
    std::filesystem::create_directories(QFile::encodeName(directory).toStdString(), error);
    if (error)
        return failure(Error::posix(error.value(), directory));
    return {};
}

Result<void> writeAll(int descriptor, const QByteArray &bytes, const QString &context)
{
    const char *data = bytes.constData();
    qsizetype remaining = bytes.size();
    while (remaining > 0) {
        const ssize_t written = ::write(descriptor, data, static_cast<size_t>(remaining));
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return failure(lastError(context));
        }
        data += written;
        remaining -= written;
    }
    return {};
}

// Writes (and flushes, when asked) the temporary file; the caller removes it when this fails.
Result<void> fillTemporary(FileDescriptor &file, const QByteArray &bytes, AtomicFile::Durability durability,
                           const QString &context)
{
    // mkostemp's mode is subject to the umask; a umask can only narrow it, never widen it.
    if (::fchmod(file.get(), ownerReadWrite) != 0)
        return failure(lastError(context));
    if (auto written = writeAll(file.get(), bytes, context); !written)
        return written;
    if (durability == AtomicFile::Durability::flushed && ::fsync(file.get()) != 0)
        return failure(lastError(context));
    if (file.release() != 0)
        return failure(lastError(context));
    return {};
}

Result<void> syncDirectory(const QByteArray &directory, const QString &context)
{
    FileDescriptor handle(::open(directory.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (handle.get() < 0 || ::fsync(handle.get()) != 0)
        return failure(lastError(context));
    return {};
}

} // namespace

Result<void> AtomicFile::replace(const QString &path, const QByteArray &bytes, Durability durability)
{
    const QFileInfo target(path);
    const QString directory = target.absolutePath();
    if (auto created = createDirectories(directory); !created)
        return created;

    const QByteArray targetName = QFile::encodeName(target.absoluteFilePath());
    QByteArray temporaryName = QFile::encodeName(directory + QStringLiteral("/.") + target.fileName()) + ".XXXXXX";
    FileDescriptor temporary(::mkostemp(temporaryName.data(), O_CLOEXEC));
    if (temporary.get() < 0)
        return failure(lastError(directory));

    auto written = fillTemporary(temporary, bytes, durability, path);
    if (written && ::rename(temporaryName.constData(), targetName.constData()) != 0)
        written = failure(lastError(path));
    if (!written) {
        ::unlink(temporaryName.constData());
        return written;
    }
    if (durability == Durability::flushed)
        return syncDirectory(QFile::encodeName(directory), directory);
    return {};
}

Result<std::optional<QByteArray>> AtomicFile::readIfPresent(const QString &path)
{
    // Without O_NONBLOCK, opening a FIFO planted at the path would wait for a writer for ever.
    FileDescriptor file(::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (file.get() < 0) {
        if (errno == ENOENT)
            return std::optional<QByteArray>();
        return failure(lastError(path));
    }
    struct stat info = {};
    if (::fstat(file.get(), &info) != 0)
        return failure(lastError(path));
    if (!S_ISREG(info.st_mode))
        return failure(Error{QStringLiteral("POSIX"), EINVAL, path + QStringLiteral(": not a regular file")});
    const Error tooLarge{QStringLiteral("POSIX"), EFBIG, path + QStringLiteral(": larger than 1 MiB")};
    if (info.st_size > maximumReadBytes)
        return failure(tooLarge);
    QByteArray contents;
    char buffer[16 * 1024];
    for (;;) {
        const ssize_t count = ::read(file.get(), buffer, sizeof buffer);
        if (count < 0) {
            if (errno == EINTR)
                continue;
            return failure(lastError(path));
        }
        if (count == 0)
            return std::optional<QByteArray>(contents);
        // The file may grow while it is read.
        if (contents.size() + count > maximumReadBytes)
            return failure(tooLarge);
        contents.append(buffer, count);
    }
}

Result<void> AtomicFile::removeIfPresent(const QString &path)
{
    if (::unlink(QFile::encodeName(path).constData()) != 0 && errno != ENOENT)
        return failure(lastError(path));
    return {};
}
