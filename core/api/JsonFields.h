#pragma once

#include "common/Error.h"
#include "common/JsonObjectReader.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QList>
#include <QUuid>

#include <optional>

// Reads the members of one JSON object into a record, on top of JsonObjectReader's strict member rules.
// Each read returns a value (a default one after a failure) and only the first failure is kept, so a
// record is built in one expression and checked once:
//
//     JsonFields fields(value, path);
//     Device device{fields.uuid(u"id"_s), fields.string(u"name"_s), …};
//     if (fields.failed())
//         return failure(fields.error());
//
// Nested records and lists of records carry the member's path ("recent[2].taskId") into their errors.
class JsonFields
{
public:
    JsonFields(const QJsonValue &value, QString path);

    QString string(const QString &key);
    std::optional<QString> optionalString(const QString &key);
    bool boolean(const QString &key);
    QUuid uuid(const QString &key);

    template<typename T>
    T record(const QString &key)
    {
        const QJsonValue value = required(key);
        return failed() ? T{} : take(T::fromJson(value, pathOf(key)));
    }

    template<typename T>
    std::optional<T> optionalRecord(const QString &key)
    {
        const QJsonValue value = m_reader.json().value(key);
        if (failed() || value.isUndefined() || value.isNull())
            return std::nullopt;
        return take(T::fromJson(value, pathOf(key)));
    }

    template<typename T>
    QList<T> list(const QString &key)
    {
        const QJsonValue value = required(key);
        if (failed())
            return {};
        if (!value.isArray()) {
            mismatch(key, QStringLiteral("an array"));
            return {};
        }
        const QJsonArray array = value.toArray();
        QList<T> elements;
        elements.reserve(array.size());
        for (qsizetype index = 0; index < array.size() && !failed(); ++index)
            elements.append(take(T::fromJson(array.at(index), pathOf(key) + u'[' + QString::number(index) + u']')));
        return failed() ? QList<T>() : elements;
    }

    bool failed() const;
    Error error() const;

    // A whole answer body, which must be a JSON object, decoded as the record T.
    template<typename T>
    static Result<T> decode(const QByteArray &body)
    {
        const Result<JsonObjectReader> reader = JsonObjectReader::parse(body);
        if (!reader)
            return failure(reader.error());
        return T::fromJson(reader->json(), QString());
    }

private:
    QJsonValue required(const QString &key);
    QString pathOf(const QString &key) const;
    void mismatch(const QString &key, const QString &expected);

    template<typename T>
    T take(Result<T> result)
    {
        if (result)
            return std::move(*result);
        if (!failed())
            m_error = result.error();
        return T{};
    }

    JsonObjectReader m_reader;
    QString m_path;
    std::optional<Error> m_error;
};
