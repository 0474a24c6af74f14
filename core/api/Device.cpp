#include "Device.h"

#include "common/JsonObjectReader.h"

Result<Device> Device::fromJson(const QJsonValue &value, const QString &path)
{
    JsonObjectReader reader(value, path);
    return reader.result(Device{
        reader.uuid(QStringLiteral("id")),
        reader.string(QStringLiteral("name")),
        reader.string(QStringLiteral("platform")),
        reader.string(QStringLiteral("architecture")),
        reader.string(QStringLiteral("appVersion")),
        reader.optionalString(QStringLiteral("lastSeenAt")),
        reader.boolean(QStringLiteral("online")),
    });
}
