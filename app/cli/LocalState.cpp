#include "LocalState.h"

#include "common/HelperInstanceLock.h"
#include "config/AppPaths.h"
#include "config/FileConfigStore.h"
#include "credentials/SystemCredentialStore.h"
#include "platform/SystemLoginItemManager.h"
#include "status/StatusStore.h"

LocalState LocalState::read(CredentialCheck credentialCheck)
{
    LocalState state;
    FileConfigStore configStore(AppPaths::config());
    state.configPath = configStore.path();
    state.config = configStore.load();
    const StatusStore statusStore(AppPaths::status());
    state.statusPath = statusStore.path();
    state.status = statusStore.load();

    const std::shared_ptr<SystemLoginItemManager> loginItem = SystemLoginItemManager::installed();
    state.loginItem = loginItem->state();
    state.helperExecutable = loginItem->locations().helperExecutable;
    state.autostartEntryPath = loginItem->locations().autostartEntry;
    state.helperPid = HelperInstanceLock::runningHelperPid();

    if (credentialCheck == CredentialCheck::presence) {
        const SystemCredentialStore store(SystemCredentialStore::sharedAccessGroup(),
                                          SystemCredentialStore::UnlockPrompt::never);
        state.credential = store.hasCredential();
    }
    return state;
}
