#pragma once

#include "loginitem/LoginItemManaging.h"

#include <QString>

#include <functional>
#include <memory>
#include <optional>

#include <sys/types.h>

// The helper's login item as an XDG autostart entry. No entry: not registered. An entry the user switched
// off in the desktop's startup settings: waiting for the user's approval, and never rewritten. The helper
// missing from the installation: not found.
class SystemLoginItemManager final : public LoginItemManaging
{
public:
    struct Locations
    {
        QString helperExecutable;
        QString autostartEntry;
    };
    // The process of the helper running now, if one is.
    using RunningHelper = std::function<std::optional<pid_t>()>;

    SystemLoginItemManager(Locations locations, RunningHelper runningHelper);

    // The helper of the installation this program belongs to, under the entry for `identifier`.
    static Locations installedLocations(const QString &identifier);
    // The manager of this installation's helper, "com.tarnwick.mac.helper", which it finds running through
    // the helper's single-instance lock.
    static std::shared_ptr<SystemLoginItemManager> installed();

    const Locations &locations() const { return m_locations; }

    LoginItemState state() const override;
    // Writes the entry and starts the helper now, so the user need not log in again.
    Result<void> registerItem() override;
    // Removes the entry and asks the running helper to quit.
    Result<void> unregisterItem() override;

    // Opens the desktop's startup-applications settings where one is known, else the autostart folder.
    static bool openSystemSettingsLoginItems();

private:
    bool helperIsInstalled() const;

    Locations m_locations;
    RunningHelper m_runningHelper;
};
