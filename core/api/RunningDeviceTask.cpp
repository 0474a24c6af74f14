#include "RunningDeviceTask.h"

#include "common/JsonObjectReader.h"

Result<RunningDeviceTask> RunningDeviceTask::fromJson(const QJsonValue &value, const QString &path)
{
    JsonObjectReader reader(value, path);
    return reader.result(RunningDeviceTask{
        reader.uuid(QStringLiteral("taskId")),
        reader.string(QStringLiteral("label")),
        reader.string(QStringLiteral("provider")),
        reader.string(QStringLiteral("startedAt")),
    });
}
