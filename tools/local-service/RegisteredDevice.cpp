#include "RegisteredDevice.h"

#include "WireText.h"

namespace {
constexpr qint64 onlineWindowSeconds = 120;
}

bool RegisteredDevice::isOnline(const QDateTime &now) const
{
    return lastSeenAt && lastSeenAt->secsTo(now) <= onlineWindowSeconds;
}

QJsonObject RegisteredDevice::toJson(const QDateTime &now) const
{
    QJsonObject json{
        {QStringLiteral("id"), WireText::uuid(id)}, {QStringLiteral("name"), name},
        {QStringLiteral("platform"), platform},     {QStringLiteral("architecture"), architecture},
        {QStringLiteral("appVersion"), appVersion}, {QStringLiteral("online"), isOnline(now)},
    };
    if (lastSeenAt)
        json.insert(QStringLiteral("lastSeenAt"), WireText::date(*lastSeenAt));
    return json;
}
