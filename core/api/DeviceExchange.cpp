#include "DeviceExchange.h"

#include "common/JsonObjectReader.h"

Result<DeviceExchange> DeviceExchange::fromJson(const QJsonValue &value, const QString &path)
{
    JsonObjectReader reader(value, path);
    return reader.result(DeviceExchange{
        reader.string(QStringLiteral("credential")),
        reader.record<Device>(QStringLiteral("device")),
    });
}
