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
    const auto reader = JsonObjectReader::parse(bytes);
    if (!reader)
        return failure(reader.error());
    const auto apiUrl = reader->string(Key::apiUrl);
    const auto deviceId = reader->uuid(Key::deviceId);
    const auto appVersion = reader->string(Key::appVersion);
    const auto allowedRoots = reader->stringArray(Key::allowedRoots);
    const auto defaultDirectory = reader->string(Key::defaultDirectory);
    const auto providerPaths = reader->object(Key::providerPaths);
    if (auto error = firstError(apiUrl, deviceId, appVersion, allowedRoots, defaultDirectory, providerPaths))
        return failure(*error);
    const auto paths = ProviderPaths::fromJson(providerPaths->json(), Key::providerPaths);
    if (!paths)
        return failure(paths.error());
    return AppConfig{*apiUrl, *deviceId, *appVersion, *allowedRoots, *defaultDirectory, *paths};
}
