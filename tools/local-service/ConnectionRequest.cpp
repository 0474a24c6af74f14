#include "ConnectionRequest.h"

#include "SecretTokens.h"
#include "WireText.h"

namespace {
// Longer values are not a Mac's name or version; they are refused rather than stored and echoed.
constexpr qsizetype maximumItemLength = 256;
constexpr qsizetype challengeLength = 43;

QString quoted(const QString &name)
{
    return QStringLiteral("“") + name + QStringLiteral("”");
}

// The single value of an item: absent when the item is missing, a problem when the name is repeated (which
// of two states or challenges would be meant is anyone's guess).
std::expected<std::optional<QString>, QString> singleItem(const QUrlQuery &query, const QString &name)
{
    const QStringList values = query.allQueryItemValues(name, QUrl::FullyDecoded);
    if (values.size() > 1)
        return std::unexpected(QStringLiteral("The link names %1 more than once.").arg(quoted(name)));
    if (values.isEmpty())
        return std::nullopt;
    if (values.first().size() > maximumItemLength)
        return std::unexpected(QStringLiteral("The link’s %1 is too long.").arg(quoted(name)));
    return values.first();
}

std::expected<QString, QString> requiredItem(const QUrlQuery &query, const QString &name)
{
    const auto value = singleItem(query, name);
    if (!value)
        return std::unexpected(value.error());
    if (!*value || (*value)->isEmpty())
        return std::unexpected(QStringLiteral("The link has no %1.").arg(quoted(name)));
    return **value;
}
}

Checked<ConnectionRequest> ConnectionRequest::fromQuery(const QUrlQuery &query, const std::optional<QString> &pathBuild)
{
    ConnectionRequest request;
    const std::pair<QString, QString *> required[] = {
        {QStringLiteral("deviceName"), &request.deviceName},       {QStringLiteral("platform"), &request.platform},
        {QStringLiteral("architecture"), &request.architecture},   {QStringLiteral("appVersion"), &request.appVersion},
        {QStringLiteral("codeChallenge"), &request.codeChallenge}, {QStringLiteral("state"), &request.state},
    };
    for (const auto &[name, field] : required) {
        const auto value = requiredItem(query, name);
        if (!value)
            return refuse(400, value.error());
        *field = *value;
    }
    if (!SecretTokens::isBase64Url(request.codeChallenge, challengeLength))
        return refuse(
            400, QStringLiteral("The link’s “codeChallenge” is not a SHA-256 challenge (43 base64url characters)."));

    const auto clientBuild = singleItem(query, QStringLiteral("clientBuild"));
    if (!clientBuild)
        return refuse(400, clientBuild.error());
    if (*clientBuild != pathBuild)
        return refuse(400, QStringLiteral("The build in the link’s path does not match its “clientBuild”."));
    request.clientBuild = *clientBuild;

    const auto existingDeviceId = singleItem(query, QStringLiteral("existingDeviceId"));
    if (!existingDeviceId)
        return refuse(400, existingDeviceId.error());
    if (*existingDeviceId) {
        request.existingDeviceId = WireText::parseUuid(**existingDeviceId);
        if (!request.existingDeviceId)
            return refuse(400, QStringLiteral("The link’s “existingDeviceId” is not a device identifier."));
    }
    return request;
}
