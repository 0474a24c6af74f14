#include "AppStandIns.h"

#include "SetupFixtures.h"

#include "config/AppPaths.h"
#include "status/StatusStore.h"

AppModelParts AppStandIns::parts(const QUrl &baseURL)
{
    loginItem = std::make_shared<ScriptedLoginItem>();
    AppModelParts parts;
    parts.configStore = std::unique_ptr<MemoryConfigStore>(config = new MemoryConfigStore);
    parts.credentialStore = std::unique_ptr<MemoryCredentialStore>(credential = new MemoryCredentialStore);
    parts.api = std::make_unique<DeviceAPIClient>(baseURL);
    parts.loginItem = [item = loginItem] { return item; };
    parts.signIn = std::unique_ptr<ScriptedSignIn>(signIn = new ScriptedSignIn);
    parts.discoverProviders = [discovered = discovered] { return *discovered; };
    parts.folderChooser = std::unique_ptr<ScriptedFolderChooser>(chooser = new ScriptedFolderChooser);
    parts.networkMonitor = std::unique_ptr<ScriptedNetworkMonitor>(network = new ScriptedNetworkMonitor);
    parts.clock = std::unique_ptr<ManualClock>(clock = new ManualClock);
    parts.deviceName = [] { return QStringLiteral("Studio Mac"); };
    parts.statusPath = AppPaths::status();
    parts.baseURL = baseURL;
    return parts;
}

void AppStandIns::store(Stored stored)
{
    using namespace SetupFixtures;
    if (stored == Stored::credential || stored == Stored::finishedSetup)
        credential->credential = credentialFor(device);
    if (stored == Stored::configuration || stored == Stored::finishedSetup)
        config->config = finishedConfig();
    if (stored == Stored::unreadableConfiguration)
        config->failure = Error{QStringLiteral("JSONDecoding"), 1, QStringLiteral("The data couldn’t be read.")};
    if (stored == Stored::credentialWithoutDevice)
        credential->credential = QStringLiteral("twk_device_nonsense");
    loginItem->currentState = LoginItemState::enabled;
}

bool AppStandIns::writeStatus(HelperStatus::State state, std::optional<qint64> age) const
{
    const auto heartbeat = age ? std::optional(clock->now().addSecs(-*age)) : std::nullopt;
    return bool(StatusStore(AppPaths::status()).save(HelperStatus(state, heartbeat)));
}
