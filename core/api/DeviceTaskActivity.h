#pragma once

#include "api/RecentDeviceTask.h"
#include "api/RunningDeviceTask.h"

#include <QList>

#include <optional>

// What the service reports this computer is doing: the running task, if any, and the recent ones in the
// service's order.
struct DeviceTaskActivity
{
    std::optional<RunningDeviceTask> running;
    QList<RecentDeviceTask> recent;

    static Result<DeviceTaskActivity> fromJson(const QJsonValue &value, const QString &path = QString());

    friend bool operator==(const DeviceTaskActivity &, const DeviceTaskActivity &) = default;
};
