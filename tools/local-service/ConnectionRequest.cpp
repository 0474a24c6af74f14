#include "ConnectionRequest.h"

#include "SecretTokens.h"
#include "WireText.h"

using namespace Qt::StringLiterals;

namespace {
// Longer values are not a Mac's name or version; they are refused rather than stored and echoed.
constexpr qsizetype maximumItemLength = 256;
constexpr qsizetype challengeLength = 43;

QString quoted(const QString &name)
{
    return u"“"_s + name + u"”"_s;
}

// The single value of an item: absent when the item is missing, a problem when the name is repeated (which
// of two states or challenges would be meant is anyone's guess).
std::expected<std::optional<QString>, QString> singleItem(const QUrlQuery &query, const QString &name)
{
    const QStringList values = query.allQueryItemValues(name, QUrl::FullyDecoded);
    if (values.size() > 1)
        return std::unexpected(u"The link names %1 more than once."_s.arg(quoted(name)));
    if (values.isEmpty())
        return std::nullopt;
    if (values.first().size() > maximumItemLength)
        return std::unexpected(u"The link’s %1 is too long."_s.arg(quoted(name)));
    return values.first();
}

std::expected<QString, QString> requiredItem(const QUrlQuery &query, const QString &name)
{
    const auto value = singleItem(query, name);
    if (!value)
        return std::unexpected(value.error());
    if (!*value || (*value)->isEmpty())
        return std::unexpected(u"The link has no %1."_s.arg(quoted(name)));
    return **value;
}
}

Checked<ConnectionRequest> ConnectionRequest::fromQuery(const QUrlQuery &query, const std::optional<QString> &pathBuild)
{
    ConnectionRequest request;
    const std::pair<QString, QString *> required[] = {
        {u"deviceName"_s, &request.deviceName},       {u"platform"_s, &request.platform},
        {u"architecture"_s, &request.architecture},   {u"appVersion"_s, &request.appVersion},
        {u"codeChallenge"_s, &request.codeChallenge}, {u"state"_s, &request.state},
    };
    for (const auto &[name, field] : required) {
        const auto value = requiredItem(query, name);
        if (!value)
            return refuse(400, value.error());
        *field = *value;
    }
    if (!SecretTokens::isBase64Url(request.codeChallenge, challengeLength))
        return refuse(400, u"The link’s “codeChallenge” is not a SHA-256 challenge (43 base64url characters)."_s);

    const auto clientBuild = singleItem(query, u"clientBuild"_s);
    if (!clientBuild)
        return refuse(400, clientBuild.error());
    if (*clientBuild != pathBuild)
        return refuse(400, u"The build in the link’s path does not match its “clientBuild”."_s);
    request.clientBuild = *clientBuild;

    const auto existingDeviceId = singleItem(query, u"existingDeviceId"_s);
    if (!existingDeviceId)
        return refuse(400, existingDeviceId.error());
    if (*existingDeviceId) {
        request.existingDeviceId = WireText::parseUuid(**existingDeviceId);
        if (!request.existingDeviceId)
            return refuse(400, u"The link’s “existingDeviceId” is not a device identifier."_s);
    }
    return request;
}
