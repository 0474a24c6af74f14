#include "JsonObjectReader.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonParseError>

namespace {

bool isAsciiHexDigit(QChar c)
{
    return (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F');
}

Error decodingError(JsonObjectReader::Code code, const QString &description)
{
    return Error{JsonObjectReader::errorDomain, code, description};
}

// 8-4-4-4-12 hexadecimal digits; QUuid::fromString alone would also take braces.
bool isCanonicalUuid(const QString &text)
{
    constexpr qsizetype length = 36;
    if (text.size() != length)
        return false;
    for (qsizetype i = 0; i < length; ++i) {
        const bool hyphenPosition = i == 8 || i == 13 || i == 18 || i == 23;
        if (hyphenPosition ? text[i] != u'-' : !isAsciiHexDigit(text[i]))
            return false;
    }
    return true;
}

} // namespace

Result<JsonObjectReader> JsonObjectReader::parse(const QByteArray &bytes)
{
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(bytes, &parseError);
    if (parseError.error != QJsonParseError::NoError)
        return failure(decodingError(dataCorrupted, QStringLiteral("The data is not valid JSON: %1 at offset %2.")
                                                        .arg(parseError.errorString())
                                                        .arg(parseError.offset)));
    if (!document.isObject())
        return failure(decodingError(typeMismatch, QStringLiteral("Expected a JSON object at the top level.")));
    return JsonObjectReader(document.object());
}

JsonObjectReader::JsonObjectReader(QJsonObject object, QString path)
    : m_object(std::move(object))
    , m_path(std::move(path))
{
}

Result<QString> JsonObjectReader::string(const QString &key) const
{
    const auto value = required(key);
    if (!value)
        return failure(value.error());
    if (!value->isString())
        return failure(mismatch(key, QStringLiteral("a string")));
    return value->toString();
}

Result<std::optional<QString>> JsonObjectReader::optionalString(const QString &key) const
{
    const QJsonValue value = m_object.value(key);
    if (value.isUndefined() || value.isNull())
        return std::optional<QString>();
    if (!value.isString())
        return failure(mismatch(key, QStringLiteral("a string")));
    return std::optional<QString>(value.toString());
}

Result<QStringList> JsonObjectReader::stringArray(const QString &key) const
{
    const auto value = required(key);
    if (!value)
        return failure(value.error());
    if (!value->isArray())
        return failure(mismatch(key, QStringLiteral("an array of strings")));
    QStringList strings;
    const QJsonArray array = value->toArray();
    for (qsizetype i = 0; i < array.size(); ++i) {
        if (!array.at(i).isString())
            return failure(mismatch(QStringLiteral("%1[%2]").arg(key).arg(i), QStringLiteral("a string")));
        strings.append(array.at(i).toString());
    }
    return strings;
}

Result<JsonObjectReader> JsonObjectReader::object(const QString &key) const
{
    const auto value = required(key);
    if (!value)
        return failure(value.error());
    if (!value->isObject())
        return failure(mismatch(key, QStringLiteral("an object")));
    return JsonObjectReader(value->toObject(), pathOf(key));
}

Result<QUuid> JsonObjectReader::uuid(const QString &key) const
{
    const auto text = string(key);
    if (!text)
        return failure(text.error());
    if (!isCanonicalUuid(*text))
        return failure(corrupted(key, QStringLiteral("is not a UUID")));
    return QUuid::fromString(*text);
}

Error JsonObjectReader::corrupted(const QString &key, const QString &problem) const
{
    return decodingError(dataCorrupted, QStringLiteral("The value of \"%1\" %2.").arg(pathOf(key), problem));
}

Result<QJsonValue> JsonObjectReader::required(const QString &key) const
{
    const QJsonValue value = m_object.value(key);
    if (value.isUndefined())
        return failure(decodingError(keyNotFound, QStringLiteral("No value for the key \"%1\".").arg(pathOf(key))));
    if (value.isNull())
        return failure(decodingError(valueNotFound, QStringLiteral("The key \"%1\" is null.").arg(pathOf(key))));
    return value;
}

QString JsonObjectReader::pathOf(const QString &key) const
{
    return m_path.isEmpty() ? key : m_path + u'.' + key;
}

Error JsonObjectReader::mismatch(const QString &key, const QString &expected) const
{
    return decodingError(typeMismatch, QStringLiteral("Expected %1 for \"%2\".").arg(expected, pathOf(key)));
}
