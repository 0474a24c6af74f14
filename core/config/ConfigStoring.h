#pragma once

#include "common/Error.h"
#include "config/AppConfig.h"

#include <optional>

// Keeps the one configuration record. A missing record is not an error: it loads as absent and removing
// it succeeds.
class ConfigStoring
{
public:
    virtual ~ConfigStoring() = default;

    virtual Result<std::optional<AppConfig>> load() = 0;
    virtual Result<void> save(const AppConfig &config) = 0;
    virtual Result<void> remove() = 0;
};
