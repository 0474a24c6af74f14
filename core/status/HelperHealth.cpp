#include "HelperHealth.h"

namespace HelperHealth {

namespace {

bool isRecent(const std::optional<QDateTime> &heartbeat, const QDateTime &now)
{
    return heartbeat && std::chrono::milliseconds(heartbeat->msecsTo(now)) <= freshnessWindow;
}

} // namespace

bool isFresh(const std::optional<HelperStatus> &status, const QDateTime &now)
{
    return status && status->state() == HelperStatus::State::connected && isRecent(status->lastHeartbeat(), now);
}

bool isHealthy(const HelperStatus &status, const QDateTime &now)
{
    const HelperStatus::State state = status.state();
    return (state == HelperStatus::State::starting || state == HelperStatus::State::connected)
           && isRecent(status.lastHeartbeat(), now);
}

} // namespace HelperHealth
