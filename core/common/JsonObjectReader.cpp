#include "JsonObjectReader.h"

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

QString describedPath(const QString &path)
{
    return path.isEmpty() ? QStringLiteral("the top level") : u'"' + path + u'"';
}

} // namespace

Result<QJsonObject> JsonObjectReader::parse(const QByteArray &bytes)
{
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(bytes, &parseError);
    if (parseError.error != QJsonParseError::NoError)
        return failure(decodingError(dataCorrupted, QStringLiteral("The data is not valid JSON: %1 at offset %2.")
                                                        .arg(parseError.errorString())
                                                        .arg(parseError.offset)));
    if (!document.isObject())
        return failure(decodingError(typeMismatch, QStringLiteral("Expected a JSON object at the top level.")));
    return document.object();
}

JsonObjectReader::JsonObjectReader(const QJsonValue &value, QString path)
    : m_object(value.toObject())
    , m_path(std::move(path))
{
    if (value.isUndefined() || value.isNull())
        fail(valueNotFound, QStringLiteral("No value for %1.").arg(describedPath(m_path)));
    else if (!value.isObject())
        fail(typeMismatch, QStringLiteral("Expected an object for %1.").arg(describedPath(m_path)));
}

QString JsonObjectReader::string(const QString &key)
{
    const QJsonValue value = required(key);
    if (!failed() && !value.isString())
        mismatch(pathOf(key), QStringLiteral("a string"));
    return failed() ? QString() : value.toString();
}

std::optional<QString> JsonObjectReader::optionalString(const QString &key)
{
    const QJsonValue value = m_object.value(key);
    if (failed() || value.isUndefined() || value.isNull())
        return std::nullopt;
    if (!value.isString()) {
        mismatch(pathOf(key), QStringLiteral("a string"));
        return std::nullopt;
    }
    return value.toString();
}

bool JsonObjectReader::boolean(const QString &key)
{
    const QJsonValue value = required(key);
    if (!failed() && !value.isBool())
        mismatch(pathOf(key), QStringLiteral("a boolean"));
    return !failed() && value.toBool();
}

QStringList JsonObjectReader::stringArray(const QString &key)
{
    const QJsonArray array = requiredArray(key, QStringLiteral("an array of strings"));
    QStringList strings;
    for (qsizetype index = 0; index < array.size() && !failed(); ++index) {
        if (!array.at(index).isString())
            mismatch(elementPath(key, index), QStringLiteral("a string"));
        strings.append(array.at(index).toString());
    }
    return failed() ? QStringList() : strings;
}

QUuid JsonObjectReader::uuid(const QString &key)
{
    const QString text = string(key);
    if (!failed() && !isCanonicalUuid(text))
        reject(key, QStringLiteral("is not a UUID"));
    return failed() ? QUuid() : QUuid::fromString(text);
}

void JsonObjectReader::reject(const QString &key, const QString &problem)
{
    fail(dataCorrupted, QStringLiteral("The value of \"%1\" %2.").arg(pathOf(key), problem));
}

QJsonValue JsonObjectReader::required(const QString &key)
{
    if (failed())
        return {};
    const QJsonValue value = m_object.value(key);
    if (value.isUndefined())
        fail(keyNotFound, QStringLiteral("No value for the key \"%1\".").arg(pathOf(key)));
    else if (value.isNull())
        fail(valueNotFound, QStringLiteral("The key \"%1\" is null.").arg(pathOf(key)));
    return value;
}

QJsonArray JsonObjectReader::requiredArray(const QString &key, const QString &expected)
{
    const QJsonValue value = required(key);
    if (!failed() && !value.isArray())
        mismatch(pathOf(key), expected);
    return failed() ? QJsonArray() : value.toArray();
}

QString JsonObjectReader::pathOf(const QString &key) const
{
    return m_path.isEmpty() ? key : m_path + u'.' + key;
}

QString JsonObjectReader::elementPath(const QString &key, qsizetype index) const
{
    return pathOf(key) + u'[' + QString::number(index) + u']';
}

void JsonObjectReader::fail(Code code, const QString &description)
{
    if (!failed())
        m_error = decodingError(code, description);
}

void JsonObjectReader::mismatch(const QString &path, const QString &expected)
{
    fail(typeMismatch, QStringLiteral("Expected %1 for \"%2\".").arg(expected, path));
}
