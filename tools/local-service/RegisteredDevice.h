#pragma once

#include <QDateTime>
#include <QJsonObject>
#include <QString>
#include <QUuid>

#include <optional>

// A Mac paired with the service, as the device API describes it.
struct RegisteredDevice
{
    QUuid id;
    QString name;
    QString platform;
    QString architecture;
    QString appVersion;
    std::optional<QDateTime> lastSeenAt;

    // Seen by the service within the last two minutes.
    bool isOnline(const QDateTime &now) const;

    // The device record of the API: upper-case identifier, "lastSeenAt" only once the device was seen.
    QJsonObject toJson(const QDateTime &now) const;

    friend bool operator==(const RegisteredDevice &, const RegisteredDevice &) = default;
};
