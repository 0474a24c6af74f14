#include "ProviderPaths.h"

#include "common/JsonObjectReader.h"

namespace {

const QString codexKey = QStringLiteral("codex");
const QString claudeCodeKey = QStringLiteral("claudeCode");

} // namespace

bool ProviderPaths::hasProvider() const
{
    return codex.has_value() || claudeCode.has_value();
}

QJsonObject ProviderPaths::toJson() const
{
    QJsonObject object;
    if (codex)
        object.insert(codexKey, *codex);
    if (claudeCode)
        object.insert(claudeCodeKey, *claudeCode);
    return object;
}

Result<ProviderPaths> ProviderPaths::fromJson(const QJsonValue &value, const QString &path)
{
    JsonObjectReader reader(value, path);
    return reader.result(ProviderPaths{reader.optionalString(codexKey), reader.optionalString(claudeCodeKey)});
}
