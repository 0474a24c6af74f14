#pragma once

#include "common/Error.h"
#include "config/ProviderPaths.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QUuid>

// The settings the setup window writes when setup finishes and the helper reads before it starts the
// runner.
struct AppConfig
{
    QString apiUrl;
    QUuid deviceId;
    QString appVersion;
    QStringList allowedRoots;
    QString defaultDirectory;
    ProviderPaths providerPaths;

    // Whether this setup can be resumed for the device a stored credential names: same device, at least
    // one coding agent, at least one permitted folder. Nothing else is looked at.
    bool isReadyForReconnect(const QUuid &pairedDeviceId) const;

    // The file form: pretty-printed, keys sorted at every level, "/" written "\/", deviceId in upper case.
    QByteArray encoded() const;
    // Reads the file form; a missing key, a wrong type, a deviceId that is not a UUID or malformed JSON
    // fails with a "JSONDecoding" error. Unknown keys are ignored.
    static Result<AppConfig> decode(const QByteArray &bytes);

    friend bool operator==(const AppConfig &, const AppConfig &) = default;
};
