#pragma once

#include "common/Error.h"

#include <QJsonValue>
#include <QString>
#include <QUuid>

// The task that runs on this computer now, as the service reports it. Dates stay the service's texts.
struct RunningDeviceTask
{
    QUuid taskId;
    QString label;
    QString provider;
    QString startedAt;

    static Result<RunningDeviceTask> fromJson(const QJsonValue &value, const QString &path = QString());

    friend bool operator==(const RunningDeviceTask &, const RunningDeviceTask &) = default;
};
