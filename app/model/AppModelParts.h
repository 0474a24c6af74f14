#pragma once

#include "api/DeviceAPIClient.h"
#include "config/ConfigStoring.h"
#include "credentials/CredentialStoring.h"
#include "discovery/ProviderReadiness.h"
#include "loginitem/LoginItemManaging.h"
#include "model/BrowserSignIn.h"
#include "model/Clock.h"
#include "model/FolderChoosing.h"
#include "model/NetworkMonitoring.h"

#include <QString>
#include <QUrl>

#include <chrono>
#include <functional>
#include <memory>

// Everything the model works with, handed in by the program (the system's own) or by a test.
struct AppModelParts
{
    std::unique_ptr<ConfigStoring> configStore;
    std::unique_ptr<CredentialStoring> credentialStore;
    std::unique_ptr<DeviceAPIClient> api;
    // A fresh manager of the helper's login item for every check.
    std::function<std::shared_ptr<LoginItemManaging>()> loginItem;
    std::unique_ptr<BrowserSignIn> signIn;
    // Runs off the main thread; blocks while the outside programs run.
    std::function<ProviderReadiness()> discoverProviders;
    std::unique_ptr<FolderChoosing> folderChooser;
    std::unique_ptr<NetworkMonitoring> networkMonitor;
    std::unique_ptr<Clock> clock;
    // The computer's name as the service should show it.
    std::function<QString()> deviceName;
    QString statusPath;
    QUrl baseURL;
    QString appVersion;
    QString appBuild;
    std::chrono::milliseconds statusInterval = std::chrono::seconds(3);
    std::chrono::milliseconds recoveryDelay = std::chrono::seconds(3);
};
