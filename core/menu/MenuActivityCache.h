#pragma once

#include "api/DeviceTaskActivity.h"

#include <optional>

// The task activity of the latest successful fetch, kept as the service sent it, and whether the latest
// fetch failed. A failed fetch keeps the activity so the menu can still show the last known tasks.
struct MenuActivityCache
{
    std::optional<DeviceTaskActivity> activity;
    bool refreshFailed = false;

    void recordSuccess(const DeviceTaskActivity &fetched);
    void recordFailure();

    friend bool operator==(const MenuActivityCache &, const MenuActivityCache &) = default;
};
