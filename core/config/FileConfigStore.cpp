#include "FileConfigStore.h"

#include "common/AtomicFile.h"

FileConfigStore::FileConfigStore(QString path)
    : m_path(std::move(path))
{
}

Result<std::optional<AppConfig>> FileConfigStore::load()
{
    const auto bytes = AtomicFile::readIfPresent(m_path);
    if (!bytes)
        return failure(bytes.error());
    if (!*bytes)
        return std::nullopt;
    return AppConfig::decode(**bytes);
}

Result<void> FileConfigStore::save(const AppConfig &config)
{
    return AtomicFile::replace(m_path, config.encoded());
}

Result<void> FileConfigStore::remove()
{
    return AtomicFile::removeIfPresent(m_path);
}
