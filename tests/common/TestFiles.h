#pragma once

// Files a test plants and reads back: parents created, owner-only unless told otherwise.

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace TestFiles {

inline QByteArray read(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

inline bool write(const QString &path, const QByteArray &bytes,
                  QFile::Permissions permissions = QFile::ReadOwner | QFile::WriteOwner)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size()
           && file.setPermissions(permissions);
}

inline bool writeScript(const QString &path, const QByteArray &body)
{
    return write(path, "#!/bin/sh\n" + body + '\n', QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

} // namespace TestFiles
