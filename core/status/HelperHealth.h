#pragma once

#include "status/HelperStatus.h"

#include <QDateTime>

#include <chrono>
#include <optional>

// How alive the helper is, judged from its last status at `now`. Every reader of a heartbeat (the menu,
// the setup window, the recovery policy, the status command) goes through these, so that all agree.
namespace HelperHealth {

// The one age under which a heartbeat counts as recent.
inline constexpr std::chrono::seconds freshnessWindow{45};

// `connected`, with a heartbeat at most `freshnessWindow` before `now`. A heartbeat later than `now`
// (the clock was set back) counts as recent.
bool isFresh(const std::optional<HelperStatus> &status, const QDateTime &now);

// `starting` or `connected`, with a recent heartbeat: the helper is up or on its way.
bool isHealthy(const HelperStatus &status, const QDateTime &now);

} // namespace HelperHealth
