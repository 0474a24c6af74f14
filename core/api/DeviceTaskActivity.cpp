#include "DeviceTaskActivity.h"

#include "api/JsonFields.h"

#include <QJsonArray>

Result<DeviceTaskActivity> DeviceTaskActivity::fromJson(const QJsonValue &value, const QString &path)
{
    JsonFields fields(value, path);
    DeviceTaskActivity activity{
        fields.optionalRecord<RunningDeviceTask>(QStringLiteral("running")),
        fields.list<RecentDeviceTask>(QStringLiteral("recent")),
    };
    if (fields.failed())
        return failure(fields.error());
    return activity;
}

QJsonObject DeviceTaskActivity::toJson() const
{
    QJsonArray recentTasks;
    for (const RecentDeviceTask &task : recent)
        recentTasks.append(task.toJson());
    QJsonObject object{{QStringLiteral("recent"), recentTasks}};
    if (running)
        object.insert(QStringLiteral("running"), running->toJson());
    return object;
}
