#pragma once

#include "common/Error.h"

#include <QByteArray>
#include <QJsonArray>
#include <QJsonObject>
#include <QList>
#include <QString>
#include <QStringList>
#include <QUuid>

#include <optional>

// Reads the members of one JSON object strictly into a record, for the stored files and the service's
// answers alike. A required member that is missing or null, or a member of the wrong type, fails with an
// error of domain "JSONDecoding" naming the member's path ("recent[2].taskId"); unknown members are
// ignored, and optional members read as absent when missing or null. Each read returns a value (a default
// one after a failure) and only the first failure is kept, so a record is built in one expression and
// checked once:
//
//     JsonObjectReader reader(value, path);
//     return reader.result(Device{reader.uuid(QStringLiteral("id")), reader.string(QStringLiteral("name")), …});
//
// Nested records are types with `static Result<T> fromJson(const QJsonValue &, const QString &path)`.
class JsonObjectReader
{
public:
    enum Code { dataCorrupted = 1, keyNotFound = 2, typeMismatch = 3, valueNotFound = 4 };

    static inline const QString errorDomain = QStringLiteral("JSONDecoding");

    // Parses `bytes` as UTF-8 JSON whose top level is an object.
    static Result<QJsonObject> parse(const QByteArray &bytes);

    // A whole document, which must be a JSON object, read as the record T.
    template<typename T>
    static Result<T> decode(const QByteArray &bytes)
    {
        const Result<QJsonObject> object = parse(bytes);
        if (!object)
            return failure(object.error());
        return T::fromJson(*object, QString());
    }

    // `path` names the object in error texts; empty for the top level.
    explicit JsonObjectReader(const QJsonValue &value, QString path = {});

    QString string(const QString &key);
    std::optional<QString> optionalString(const QString &key);
    bool boolean(const QString &key);
    QStringList stringArray(const QString &key);
    // The canonical 36-character hyphenated form, in either letter case; nothing else.
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
        const QJsonValue value = m_object.value(key);
        if (failed() || value.isUndefined() || value.isNull())
            return std::nullopt;
        return take(T::fromJson(value, pathOf(key)));
    }

    template<typename T>
    QList<T> list(const QString &key)
    {
        const QJsonArray array = requiredArray(key, QStringLiteral("an array"));
        QList<T> elements;
        elements.reserve(array.size());
        for (qsizetype index = 0; index < array.size() && !failed(); ++index)
            elements.append(take(T::fromJson(array.at(index), elementPath(key, index))));
        return failed() ? QList<T>() : elements;
    }

    // Fails the read over the value at `key`, for checks the reader cannot make itself (e.g. a date's form).
    void reject(const QString &key, const QString &problem);

    bool failed() const { return m_error.has_value(); }

    // `value` when every read succeeded, else the first failure.
    template<typename T>
    Result<T> result(T value) const
    {
        if (failed())
            return failure(*m_error);
        return value;
    }

private:
    QJsonValue required(const QString &key);
    QJsonArray requiredArray(const QString &key, const QString &expected);
    QString pathOf(const QString &key) const;
    QString elementPath(const QString &key, qsizetype index) const;
    void fail(Code code, const QString &description);
    void mismatch(const QString &path, const QString &expected);

    template<typename T>
    T take(Result<T> result)
    {
        if (result)
            return std::move(*result);
        if (!failed())
            m_error = result.error();
        return T{};
    }

    QJsonObject m_object;
    QString m_path;
    std::optional<Error> m_error;
};
