#pragma once

#include "common/Error.h"

#include <QJsonValue>
#include <QString>
#include <QUuid>

#include <optional>

// The service's record of one paired computer.
struct Device
{
    QUuid id;
    QString name;
    QString platform;
    QString architecture;
    QString appVersion;
    std::optional<QString> lastSeenAt;
    bool online = false;

    // `path` names the value inside the answer for the error text ("device", "exchange.device"…).
    static Result<Device> fromJson(const QJsonValue &value, const QString &path = QString());

    friend bool operator==(const Device &, const Device &) = default;
};
