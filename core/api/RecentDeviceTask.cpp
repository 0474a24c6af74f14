#include "RecentDeviceTask.h"

#include "api/JsonFields.h"

Result<RecentDeviceTask> RecentDeviceTask::fromJson(const QJsonValue &value, const QString &path)
{
    JsonFields fields(value, path);
    RecentDeviceTask task{
        fields.uuid(QStringLiteral("taskId")),
        fields.string(QStringLiteral("label")),
        fields.string(QStringLiteral("status")),
        fields.string(QStringLiteral("completedAt")),
    };
    if (fields.failed())
        return failure(fields.error());
    return task;
}

QJsonObject RecentDeviceTask::toJson() const
{
    return QJsonObject{
        {QStringLiteral("taskId"), taskId.toString(QUuid::WithoutBraces).toUpper()},
        {QStringLiteral("label"), label},
        {QStringLiteral("status"), status},
        {QStringLiteral("completedAt"), completedAt},
    };
}
