#include "SecretTokens.h"

#include <QCryptographicHash>
#include <QList>
#include <QRandomGenerator>

#include <algorithm>

namespace {
QString base64Url(const QByteArray &bytes)
{
    return QString::fromLatin1(bytes.toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals));
}

bool isBase64UrlCharacter(QChar c)
{
    const char16_t u = c.unicode();
    return (u >= u'A' && u <= u'Z') || (u >= u'a' && u <= u'z') || (u >= u'0' && u <= u'9') || u == u'_' || u == u'-';
}
}

namespace SecretTokens {
QString random(int byteCount)
{
    QList<quint32> words((byteCount + 3) / 4);
    QRandomGenerator::system()->fillRange(words.data(), words.size());
    return base64Url(QByteArray(reinterpret_cast<const char *>(words.constData()), byteCount));
}

QString challengeFor(const QString &verifier)
{
    return base64Url(QCryptographicHash::hash(verifier.toUtf8(), QCryptographicHash::Sha256));
}

QByteArray fingerprint(const QString &token)
{
    return QCryptographicHash::hash(token.toUtf8(), QCryptographicHash::Sha256);
}

bool isBase64Url(const QString &text, qsizetype length)
{
    return text.size() == length && std::all_of(text.cbegin(), text.cend(), isBase64UrlCharacter);
}
}
