#include "RegisteredDevice.h"

#include "WireText.h"

using namespace Qt::StringLiterals;

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
        {u"id"_s, WireText::uuid(id)}, {u"name"_s, name},
        {u"platform"_s, platform},     {u"architecture"_s, architecture},
        {u"appVersion"_s, appVersion}, {u"online"_s, isOnline(now)},
    };
    if (lastSeenAt)
        json.insert(u"lastSeenAt"_s, WireText::date(*lastSeenAt));
    return json;
}
