#include "JsonFields.h"

namespace {

Error decodingError(JsonObjectReader::Code code, const QString &description)
{
    return Error{JsonObjectReader::errorDomain, code, description};
}

QString describedPath(const QString &path)
{
    return path.isEmpty() ? QStringLiteral("the top level") : u'"' + path + u'"';
}

}

JsonFields::JsonFields(const QJsonValue &value, QString path)
    : m_reader(value.toObject(), path)
    , m_path(std::move(path))
{
    if (value.isUndefined() || value.isNull())
        m_error = decodingError(JsonObjectReader::valueNotFound,
                                QStringLiteral("No value for %1.").arg(describedPath(m_path)));
    else if (!value.isObject())
        m_error = decodingError(JsonObjectReader::typeMismatch,
                                QStringLiteral("Expected an object for %1.").arg(describedPath(m_path)));
}

QString JsonFields::string(const QString &key)
{
    return failed() ? QString() : take(m_reader.string(key));
}

std::optional<QString> JsonFields::optionalString(const QString &key)
{
    return failed() ? std::nullopt : take(m_reader.optionalString(key));
}

bool JsonFields::boolean(const QString &key)
{
    const QJsonValue value = required(key);
    if (failed())
        return false;
    if (!value.isBool()) {
        mismatch(key, QStringLiteral("a boolean"));
        return false;
    }
    return value.toBool();
}

QUuid JsonFields::uuid(const QString &key)
{
    return failed() ? QUuid() : take(m_reader.uuid(key));
}

bool JsonFields::failed() const
{
    return m_error.has_value();
}

Error JsonFields::error() const
{
    return m_error.value_or(Error{});
}

// A missing or null member fails through the reader, whose errors say which of the two it was.
QJsonValue JsonFields::required(const QString &key)
{
    if (failed())
        return {};
    const QJsonValue value = m_reader.json().value(key);
    if (value.isUndefined() || value.isNull())
        take(m_reader.string(key));
    return value;
}

QString JsonFields::pathOf(const QString &key) const
{
    return m_path.isEmpty() ? key : m_path + u'.' + key;
}

void JsonFields::mismatch(const QString &key, const QString &expected)
{
    if (!failed())
        m_error = decodingError(JsonObjectReader::typeMismatch,
                                QStringLiteral("Expected %1 for \"%2\".").arg(expected, pathOf(key)));
}
