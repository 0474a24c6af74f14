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

Result<ProviderPaths> ProviderPaths::fromJson(const QJsonObject &object, const QString &path)
{
    const JsonObjectReader reader(object, path);
    const auto codexPath = reader.optionalString(codexKey);
    const auto claudeCodePath = reader.optionalString(claudeCodeKey);
    if (auto error = firstError(codexPath, claudeCodePath))
        return failure(*error);
    return ProviderPaths{*codexPath, *claudeCodePath};
}
