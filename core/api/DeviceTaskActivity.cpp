#include "DeviceTaskActivity.h"

#include "common/JsonObjectReader.h"

Result<DeviceTaskActivity> DeviceTaskActivity::fromJson(const QJsonValue &value, const QString &path)
{
    JsonObjectReader reader(value, path);
    return reader.result(DeviceTaskActivity{
        reader.optionalRecord<RunningDeviceTask>(QStringLiteral("running")),
        reader.list<RecentDeviceTask>(QStringLiteral("recent")),
    });
}
