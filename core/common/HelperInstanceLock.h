#pragma once

#include "common/Error.h"

#include <QString>

#include <chrono>
#include <optional>

// One helper per user session. The helper holds an exclusive flock(2) on a small file under
// $XDG_RUNTIME_DIR (else the temporary directory, with the user id in the name) for as long as it runs;
// the file holds the helper's process id in decimal followed by a line feed, so another program can find
// the helper it should ask to quit. The file is never removed: the lock, not the file, says whether a
// helper runs.
class HelperInstanceLock
{
public:
    // "$XDG_RUNTIME_DIR/tarnwick-helper.lock", or "<temp>/tarnwick-helper-<uid>.lock" without a usable
    // runtime directory.
    static QString path();

    // The process id of the helper that holds the lock now, or absent when no helper holds it (or the file
    // cannot be read).
    static std::optional<qint64> runningHelperPid();

    // Takes the lock for this process, waiting up to `timeout` for a helper that is still quitting. Fails
    // when the wait runs out or the file cannot be used (a file of another user, a symlink).
    static Result<HelperInstanceLock> acquire(std::chrono::milliseconds timeout);

    HelperInstanceLock(HelperInstanceLock &&other) noexcept;
    HelperInstanceLock &operator=(HelperInstanceLock &&other) noexcept;
    HelperInstanceLock(const HelperInstanceLock &) = delete;
    HelperInstanceLock &operator=(const HelperInstanceLock &) = delete;
    ~HelperInstanceLock();

private:
    explicit HelperInstanceLock(int fd)
        : m_fd(fd)
    {
    }

    int m_fd = -1;
};
