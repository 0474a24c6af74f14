#include "DeviceCredentialParser.h"

#include <QList>
#include <QStringView>
#include <QTextBoundaryFinder>

namespace {

constexpr QStringView prefix = u"twk_device_";
constexpr qsizetype secretLength = 43;
constexpr qsizetype uuidTextLength = 36;

// A character is a user-perceived one (a grapheme cluster, so a letter with combining marks counts once);
// it qualifies by its base: a letter or number by Unicode category, so non-ASCII ones pass, or "_" or "-".
bool isSecretCharacter(QStringView cluster)
{
    const char32_t base = cluster.toUcs4().constFirst();
    return QChar::isLetterOrNumber(base) || base == U'_' || base == U'-';
}

bool isSecret(QStringView text)
{
    const DeviceCredentialParser::SecretRun run = DeviceCredentialParser::secretRun(text);
    return run.length == text.size() && run.characters == secretLength;
}

// Only the bare 8-4-4-4-12 form: QUuid also reads braced and 32-digit forms, which a token never carries.
std::optional<QUuid> parseUuid(QStringView text)
{
    if (text.size() != uuidTextLength)
        return std::nullopt;
    const QUuid uuid = QUuid::fromString(text);
    if (uuid.isNull() && text != u"00000000-0000-0000-0000-000000000000")
        return std::nullopt;
    return uuid;
}

}

DeviceCredentialParser::SecretRun DeviceCredentialParser::secretRun(QStringView text)
{
    QTextBoundaryFinder clusters(QTextBoundaryFinder::Grapheme, text.data(), text.size());
    SecretRun run;
    for (qsizetype end = clusters.toNextBoundary(); end != -1; end = clusters.toNextBoundary()) {
        if (!isSecretCharacter(text.sliced(run.length, end - run.length)))
            break;
        ++run.characters;
        run.length = end;
    }
    return run;
}

std::optional<QUuid> DeviceCredentialParser::deviceId(const QString &token)
{
    if (!token.startsWith(prefix))
        return std::nullopt;
    const QList<QStringView> pieces = QStringView(token).sliced(prefix.size()).split(u'.');
    if (pieces.size() != 2 || !isSecret(pieces[1]))
        return std::nullopt;
    return parseUuid(pieces[0]);
}
