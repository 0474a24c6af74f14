#pragma once

#include "Refusal.h"

#include <QString>
#include <QUrlQuery>
#include <QUuid>

#include <optional>

// What a Mac asks for when it opens the connection page: who it is and the proof-key challenge and state
// that bind the coming callback and exchange to this one attempt.
struct ConnectionRequest
{
    QString deviceName;
    QString platform;
    QString architecture;
    QString appVersion;
    QString codeChallenge;
    QString state;
    std::optional<QString> clientBuild;
    std::optional<QUuid> existingDeviceId;

    // Reads the page's query items; pathBuild is the build segment of the page's path, when it has one.
    // The first problem found is the refusal.
    static Checked<ConnectionRequest> fromQuery(const QUrlQuery &query, const std::optional<QString> &pathBuild);

    friend bool operator==(const ConnectionRequest &, const ConnectionRequest &) = default;
};
