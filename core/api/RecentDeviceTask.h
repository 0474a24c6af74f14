#pragma once

#include "common/Error.h"

#include <QJsonValue>
#include <QString>
#include <QUuid>

// A recently finished task; `status` is worded by the service and carries no fixed set of values.
struct RecentDeviceTask
{
    QUuid taskId;
    QString label;
    QString status;
    QString completedAt;

    static Result<RecentDeviceTask> fromJson(const QJsonValue &value, const QString &path = QString());

    friend bool operator==(const RecentDeviceTask &, const RecentDeviceTask &) = default;
};
