#pragma once

#include "config/ConfigStoring.h"

// The configuration record in memory; a scripted failure answers every call until cleared.
class MemoryConfigStore final : public ConfigStoring
{
public:
    Result<std::optional<AppConfig>> load() override
    {
        if (failure)
            return ::failure(*failure);
        return config;
    }
    Result<void> save(const AppConfig &value) override
    {
        if (failure)
            return ::failure(*failure);
        config = value;
        ++saves;
        return {};
    }
    Result<void> remove() override
    {
        if (failure)
            return ::failure(*failure);
        config.reset();
        return {};
    }

    std::optional<AppConfig> config;
    std::optional<Error> failure;
    int saves = 0;
};
