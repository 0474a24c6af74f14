#include "RecentDeviceTask.h"

#include "common/JsonObjectReader.h"

Result<RecentDeviceTask> RecentDeviceTask::fromJson(const QJsonValue &value, const QString &path)
{
    JsonObjectReader reader(value, path);
    return reader.result(RecentDeviceTask{
        reader.uuid(QStringLiteral("taskId")),
        reader.string(QStringLiteral("label")),
        reader.string(QStringLiteral("status")),
        reader.string(QStringLiteral("completedAt")),
    });
}
