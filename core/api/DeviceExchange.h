#pragma once

#include "api/Device.h"

// The answer to a successful exchange of a pairing code: the device credential and the device it names.
struct DeviceExchange
{
    QString credential;
    Device device;

    static Result<DeviceExchange> fromJson(const QJsonValue &value, const QString &path = QString());

    friend bool operator==(const DeviceExchange &, const DeviceExchange &) = default;
};
