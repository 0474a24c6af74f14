#include "PairingSecurity.h"

#include <QCryptographicHash>
#include <QUrlQuery>

#include <sys/random.h>

#include <algorithm>
#include <cerrno>

namespace PairingSecurity {

namespace {

constexpr qsizetype randomByteCount = 32;
constexpr qsizetype codeLength = 43;

QString base64URL(const QByteArray &bytes)
{
    return QString::fromLatin1(bytes.toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals));
}

// getrandom(2) without flags blocks only until the kernel's pool is first initialised; a signal may cut
// a call short, and a short read is completed by the next call.
Result<QString> randomBase64URL(qsizetype byteCount)
{
    QByteArray buffer(byteCount, Qt::Uninitialized);
    qsizetype filled = 0;
    while (filled < byteCount) {
        const ssize_t count = getrandom(buffer.data() + filled, size_t(byteCount - filled), 0);
        if (count < 0) {
            if (errno == EINTR)
                continue;
            return failure(Error::posix(errno, QStringLiteral("getrandom")));
        }
        filled += count;
    }
    return base64URL(buffer);
}

// Everything outside the RFC 3986 unreserved set is escaped, so "+", "&", "=", "#" and space come back
// as themselves from any query decoder, a form decoder included.
QString encoded(const QString &value)
{
    return QString::fromLatin1(QUrl::toPercentEncoding(value));
}

bool isCodeCharacter(QChar character)
{
    const char16_t c = character.unicode();
    return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z') || (c >= u'0' && c <= u'9') || c == u'_' || c == u'-';
}

bool isWellFormedCode(const QString &code)
{
    return code.size() == codeLength && std::all_of(code.begin(), code.end(), isCodeCharacter);
}

// The path as a URL type reports it: percent-decoded, without a trailing "/".
QString reportedPath(const QUrl &url)
{
    QString path = url.path(QUrl::FullyDecoded);
    if (path.size() > 1 && path.endsWith(u'/'))
        path.chop(1);
    return path;
}

// The value of a query item that must appear exactly once; a repeated name is ambiguous and reads as
// absent.
std::optional<QString> singleValue(const QList<std::pair<QString, QString>> &items, const QString &name)
{
    std::optional<QString> found;
    for (const auto &[itemName, value] : items) {
        if (itemName != name)
            continue;
        if (found)
            return std::nullopt;
        found = value;
    }
    return found;
}

}

Result<PairingRequest> makeRequest()
{
    const Result<QString> verifier = randomBase64URL(randomByteCount);
    if (!verifier)
        return failure(verifier.error());
    const Result<QString> state = randomBase64URL(randomByteCount);
    if (!state)
        return failure(state.error());
    return PairingRequest{*verifier, challenge(*verifier), *state};
}

QString challenge(const QString &verifier)
{
    return base64URL(QCryptographicHash::hash(verifier.toUtf8(), QCryptographicHash::Sha256));
}

std::optional<QUrl> connectionURL(const QUrl &base, const PairingRequest &request, const QString &deviceName,
                                  const QString &appVersion, const std::optional<QString> &clientBuild,
                                  const std::optional<QUuid> &existingDeviceId)
{
    if (!base.isValid() || base.isRelative() || base.host().isEmpty())
        return std::nullopt;

    QString path = base.path(QUrl::FullyEncoded);
    if (!path.endsWith(u'/'))
        path += u'/';
    path += QStringLiteral("connect/mac");
    if (clientBuild)
        path += u'/' + encoded(*clientBuild);

    QList<std::pair<QString, QString>> items{
        {QStringLiteral("deviceName"), deviceName},
        {QStringLiteral("platform"), QStringLiteral("macos")},
        {QStringLiteral("architecture"), QStringLiteral("arm64")},
        {QStringLiteral("appVersion"), appVersion},
        {QStringLiteral("codeChallenge"), request.challenge},
        {QStringLiteral("state"), request.state},
    };
    if (clientBuild)
        items.append({QStringLiteral("clientBuild"), *clientBuild});
    if (existingDeviceId)
        items.append({QStringLiteral("existingDeviceId"), existingDeviceId->toString(QUuid::WithoutBraces).toUpper()});

    QStringList query;
    for (const auto &[name, value] : items)
        query.append(name + u'=' + encoded(value));

    QUrl url = base;
    url.setPath(path, QUrl::StrictMode);
    url.setQuery(query.join(u'&'), QUrl::StrictMode);
    if (!url.isValid())
        return std::nullopt;
    return url;
}

// Scheme and host are compared as QUrl gives them, lower-cased by its normalisation, so
// "TARNWICK://AUTH/callback" is the callback too; the state, not the spelling, ties it to this attempt.
std::expected<QString, PairingValidationError> validateCallback(const QUrl &url, const QString &expectedState)
{
    if (!url.isValid() || url.scheme() != callbackScheme || url.host() != QLatin1String("auth")
        || reportedPath(url) != QLatin1String("/callback"))
        return std::unexpected(PairingValidationError::invalidCallback);

    const QList<std::pair<QString, QString>> items = QUrlQuery(url).queryItems(QUrl::FullyDecoded);
    if (expectedState.isEmpty() || singleValue(items, QStringLiteral("state")) != expectedState)
        return std::unexpected(PairingValidationError::stateMismatch);

    const std::optional<QString> code = singleValue(items, QStringLiteral("code"));
    if (!code || !isWellFormedCode(*code))
        return std::unexpected(PairingValidationError::missingCode);
    return *code;
}

}
