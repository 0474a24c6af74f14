#include "AppConfig.h"

#include "common/JsonObjectReader.h"
#include "common/JsonWriter.h"

#include <QJsonArray>
#include <QJsonObject>

namespace {
namespace Key {
const QString apiUrl = QStringLiteral("apiUrl");
const QString deviceId = QStringLiteral("deviceId");
const QString appVersion = QStringLiteral("appVersion");
const QString allowedRoots = QStringLiteral("allowedRoots");
const QString defaultDirectory = QStringLiteral("defaultDirectory");
const QString providerPaths = QStringLiteral("providerPaths");
} // namespace Key
} // namespace

bool AppConfig::isReadyForReconnect(const QUuid &pairedDeviceId) const
{
    return deviceId == pairedDeviceId && providerPaths.hasProvider() && !allowedRoots.isEmpty();
}

QByteArray AppConfig::encoded() const
{
    const QJsonObject object{
        {Key::apiUrl, apiUrl},
        {Key::deviceId, deviceId.toString(QUuid::WithoutBraces).toUpper()},
        {Key::appVersion, appVersion},
        {Key::allowedRoots, QJsonArray::fromStringList(allowedRoots)},
        {Key::defaultDirectory, defaultDirectory},
        {Key::providerPaths, providerPaths.toJson()},
    };
    return JsonWriter::write(object, JsonWriter::Layout::pretty);
}

Result<AppConfig> AppConfig::decode(const QByteArray &bytes)
{
    const auto object = JsonObjectReader::parse(bytes);
    if (!object)
        return failure(object.error());
    JsonObjectReader reader(*object);
    return reader.result(AppConfig{
        reader.string(Key::apiUrl),
        reader.uuid(Key::deviceId),
        reader.string(Key::appVersion),
        reader.stringArray(Key::allowedRoots),
        reader.string(Key::defaultDirectory),
        reader.record<ProviderPaths>(Key::providerPaths),
    });
}
