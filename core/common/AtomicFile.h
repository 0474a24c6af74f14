#pragma once

#include "common/Error.h"

#include <QByteArray>
#include <QString>

#include <optional>

// The small files Tarnwick shares between its programs are never locked: each write replaces the whole
// file in one rename, so a reader sees the old or the new content.
namespace AtomicFile {

enum class DirectorySync { yes, no };

// Creates the missing parent directories (default permissions), writes `bytes` to a new file beside
// `path` that is 0600 from its first byte whatever the umask, flushes it to disk, renames it over `path`
// and (unless told not to) flushes the directory. A symlink at `path` is replaced, never followed. On
// failure before the rename the old file is untouched and no temporary file remains.
Result<void> replace(const QString &path, const QByteArray &bytes, DirectorySync sync = DirectorySync::yes);

// The whole file, or absent when nothing is at `path`.
Result<std::optional<QByteArray>> readIfPresent(const QString &path);

// Removes the file at `path`; nothing there is success. Directories are never removed.
Result<void> removeIfPresent(const QString &path);

} // namespace AtomicFile
