#include "RunningDeviceTask.h"

#include "api/JsonFields.h"

Result<RunningDeviceTask> RunningDeviceTask::fromJson(const QJsonValue &value, const QString &path)
{
    JsonFields fields(value, path);
    RunningDeviceTask task{
        fields.uuid(QStringLiteral("taskId")),
        fields.string(QStringLiteral("label")),
        fields.string(QStringLiteral("provider")),
        fields.string(QStringLiteral("startedAt")),
    };
    if (fields.failed())
        return failure(fields.error());
    return task;
}

QJsonObject RunningDeviceTask::toJson() const
{
    return QJsonObject{
        {QStringLiteral("taskId"), taskId.toString(QUuid::WithoutBraces).toUpper()},
        {QStringLiteral("label"), label},
        {QStringLiteral("provider"), provider},
        {QStringLiteral("startedAt"), startedAt},
    };
}
