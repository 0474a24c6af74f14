#pragma once

#include "RunnerSupervisorTiming.h"
#include "api/DeviceAPIClient.h"
#include "config/ConfigStoring.h"
#include "credentials/CredentialReading.h"

#include <QString>
#include <QUrl>

#include <functional>
#include <memory>

// Everything the supervisor and the menu work with, handed in by the program (the system's own, built in
// main.cpp) or by a test. The stores are shared: the supervisor uses them on its own thread, the menu on
// the main thread, so both must be safe to call from any thread.
struct HelperParts
{
    std::shared_ptr<const CredentialReading> credentialReader;
    std::shared_ptr<ConfigStoring> configStore;
    // The configuration file, whose modification date tells the supervisor that the setup has changed.
    QString configPath;
    QString statusPath;
    // The runner's working directory, which holds both files.
    QString applicationSupportDirectory;
    // Tarnwick.app: the runtime, the runner and the setup application.
    QString mainAppBundle;
    // The tray's brand mark; when it cannot be loaded the tray shows the state's symbol.
    QString logoMarkPath;
    // A client of the service at `baseURL`; the menu takes a new one for every refresh.
    std::function<DeviceAPIClient(const QUrl &baseURL)> apiClient;
    RunnerSupervisorTiming timing;
    // Seconds an activity fetch may take.
    double activityTimeout = 5.0;
};
