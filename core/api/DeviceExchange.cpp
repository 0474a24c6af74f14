#include "DeviceExchange.h"

#include "api/JsonFields.h"

Result<DeviceExchange> DeviceExchange::fromJson(const QJsonValue &value, const QString &path)
{
    JsonFields fields(value, path);
    DeviceExchange exchange{
        fields.string(QStringLiteral("credential")),
        fields.record<Device>(QStringLiteral("device")),
    };
    if (fields.failed())
        return failure(fields.error());
    return exchange;
}

QJsonObject DeviceExchange::toJson() const
{
    return QJsonObject{
        {QStringLiteral("credential"), credential},
        {QStringLiteral("device"), device.toJson()},
    };
}
