#pragma once

#include "common/AtomicFile.h"
#include "common/Error.h"
#include "status/HelperStatus.h"

#include <QString>

#include <optional>

// The helper's status as one small JSON file, replaced atomically with permissions 0600 on every save so
// readers in other processes see the old or the new status, never a partial one. Holds no state beyond
// its path.
class StatusStore
{
public:
    explicit StatusStore(QString path);

    const QString &path() const { return m_path; }

    // Absent when there is no file; read and decoding errors go to the caller.
    Result<std::optional<HelperStatus>> load() const;
    Result<void> save(const HelperStatus &status,
                      AtomicFile::Durability durability = AtomicFile::Durability::flushed) const;

private:
    QString m_path;
};
