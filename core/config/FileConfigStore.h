#pragma once

#include "config/ConfigStoring.h"

#include <QString>

// The configuration as one JSON file, replaced atomically with permissions 0600 on every save. The file
// system's and the decoder's errors pass through unchanged; nothing is repaired or deleted on a failed
// read. Holds no state beyond its path, so any thread may use it.
class FileConfigStore final : public ConfigStoring
{
public:
    explicit FileConfigStore(QString path);

    const QString &path() const { return m_path; }

    Result<std::optional<AppConfig>> load() override;
    Result<void> save(const AppConfig &config) override;
    Result<void> remove() override;

private:
    QString m_path;
};
