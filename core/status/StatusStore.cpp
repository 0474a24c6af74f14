#include "StatusStore.h"

#include "common/AtomicFile.h"

StatusStore::StatusStore(QString path)
    : m_path(std::move(path))
{
}

Result<std::optional<HelperStatus>> StatusStore::load() const
{
    const auto bytes = AtomicFile::readIfPresent(m_path);
    if (!bytes)
        return failure(bytes.error());
    if (!*bytes)
        return std::nullopt;
    return HelperStatus::decode(**bytes);
}

Result<void> StatusStore::save(const HelperStatus &status, AtomicFile::Durability durability) const
{
    return AtomicFile::replace(m_path, status.encoded(), durability);
}
