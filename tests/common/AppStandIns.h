#pragma once

#include "ManualClock.h"
#include "MemoryConfigStore.h"
#include "MemoryCredentialStore.h"
#include "ScriptedFolderChooser.h"
#include "ScriptedLoginItem.h"
#include "ScriptedNetworkMonitor.h"
#include "ScriptedSignIn.h"

#include "model/AppModel.h"

#include <memory>

// What the stores hold when a model starts. configuration: a finished setup without its credential; the
// last two cannot be read as a setup.
enum class Stored {
    nothing,
    configuration,
    credential,
    finishedSetup,
    unreadableConfiguration,
    credentialWithoutDevice
};

// In-process collaborators for an AppModel: stores in memory, a scripted login item, browser, folder
// chooser and network, a manual clock, and discovery that answers `discovered`. parts() hands them to a
// model and keeps pointers to them for the test, valid while that model lives.
class AppStandIns
{
public:
    AppModelParts parts(const QUrl &baseURL);
    // Fills the stores of the last parts() with the paired device of SetupFixtures, the helper registered.
    void store(Stored stored);
    // Writes the helper's status file with a heartbeat `age` seconds before the clock's now, or none.
    bool writeStatus(HelperStatus::State state, std::optional<qint64> age = 0) const;

    MemoryConfigStore *config = nullptr;
    MemoryCredentialStore *credential = nullptr;
    ScriptedSignIn *signIn = nullptr;
    ScriptedFolderChooser *chooser = nullptr;
    ScriptedNetworkMonitor *network = nullptr;
    ManualClock *clock = nullptr;
    std::shared_ptr<ScriptedLoginItem> loginItem;
    // Read when discovery runs.
    std::shared_ptr<ProviderReadiness> discovered = std::make_shared<ProviderReadiness>();
};
