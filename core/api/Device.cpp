#include "Device.h"

#include "api/JsonFields.h"

Result<Device> Device::fromJson(const QJsonValue &value, const QString &path)
{
    JsonFields fields(value, path);
    Device device{
        fields.uuid(QStringLiteral("id")),
        fields.string(QStringLiteral("name")),
        fields.string(QStringLiteral("platform")),
        fields.string(QStringLiteral("architecture")),
        fields.string(QStringLiteral("appVersion")),
        fields.optionalString(QStringLiteral("lastSeenAt")),
        fields.boolean(QStringLiteral("online")),
    };
    if (fields.failed())
        return failure(fields.error());
    return device;
}

QJsonObject Device::toJson() const
{
    QJsonObject object{
        {QStringLiteral("id"), id.toString(QUuid::WithoutBraces).toUpper()},
        {QStringLiteral("name"), name},
        {QStringLiteral("platform"), platform},
        {QStringLiteral("architecture"), architecture},
        {QStringLiteral("appVersion"), appVersion},
        {QStringLiteral("online"), online},
    };
    if (lastSeenAt)
        object.insert(QStringLiteral("lastSeenAt"), *lastSeenAt);
    return object;
}
