#pragma once

#include "common/Error.h"

#include <QByteArray>
#include <QString>

#include <optional>

// The small files Tarnwick shares between its programs are never locked: each write replaces the whole
// file in one rename, so a reader sees the old or the new content.
namespace AtomicFile {

// Whether a replacement must survive a power cut. A flushed one syncs the new file before the rename and
// the directory after it; an unflushed one is just as atomic for readers but leaves the disk to write it
// back when it likes, so a file rewritten on a timer does not keep a laptop's disk awake.
enum class Durability { flushed, unflushed };

// Creates the missing parent directories (default permissions), writes `bytes` to a new file beside
// `path` that is 0600 from its first byte whatever the umask, and renames it over `path`, flushing as
// `durability` says. A symlink at `path` is replaced, never followed. On failure before the rename the
// old file is untouched and no temporary file remains.
Result<void> replace(const QString &path, const QByteArray &bytes, Durability durability = Durability::flushed);

// The whole file, or absent when nothing is at `path`. Never waits: anything but a regular file (a FIFO,
// a device) and a file larger than 1 MiB are refused with an error.
Result<std::optional<QByteArray>> readIfPresent(const QString &path);

// Removes the file at `path`; nothing there is success. Directories are never removed.
Result<void> removeIfPresent(const QString &path);

} // namespace AtomicFile
