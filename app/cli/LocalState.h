#pragma once

#include "common/Error.h"
#include "config/AppConfig.h"
#include "loginitem/LoginItemState.h"
#include "status/HelperStatus.h"

#include <QString>

#include <optional>

// What this computer's Tarnwick files, login item, helper process and (when asked) keyring say, read once
// and changed in nothing: the facts behind `tarnwick status` and `tarnwick diagnose`.
struct LocalState
{
    enum class CredentialCheck { skip, presence };

    QString configPath;
    Result<std::optional<AppConfig>> config;
    QString statusPath;
    Result<std::optional<HelperStatus>> status;
    LoginItemState loginItem = LoginItemState::notFound;
    QString helperExecutable;
    QString autostartEntryPath;
    // The helper holding the single-instance lock now.
    std::optional<qint64> helperPid;
    // Whether the keyring holds the device credential; absent when it was not asked. The keyring is asked
    // without an unlock prompt, so a locked one answers KeychainError -25308, as it does to the helper.
    std::optional<Result<bool>> credential;

    static LocalState read(CredentialCheck credentialCheck);
};
