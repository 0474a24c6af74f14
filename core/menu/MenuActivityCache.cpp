#include "MenuActivityCache.h"

void MenuActivityCache::recordSuccess(const DeviceTaskActivity &fetched)
{
    activity = fetched;
    refreshFailed = false;
}

void MenuActivityCache::recordFailure()
{
    refreshFailed = true;
}
