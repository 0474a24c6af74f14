#pragma once

#include "common/Error.h"

#include <QByteArray>
#include <QJsonObject>
#include <QString>
#include <QStringList>
#include <QUuid>

#include <optional>

// Reads the members of one JSON object strictly: a required member that is missing or null, or a member of
// the wrong type, fails with an error of domain "JSONDecoding" naming the member's path. Unknown members
// are ignored. Optional members read as absent when missing or null.
class JsonObjectReader
{
public:
    enum Code { dataCorrupted = 1, keyNotFound = 2, typeMismatch = 3, valueNotFound = 4 };

    static inline const QString errorDomain = QStringLiteral("JSONDecoding");

    // Parses `bytes` as UTF-8 JSON whose top level is an object.
    static Result<JsonObjectReader> parse(const QByteArray &bytes);

    explicit JsonObjectReader(QJsonObject object, QString path = {});

    Result<QString> string(const QString &key) const;
    Result<std::optional<QString>> optionalString(const QString &key) const;
    Result<QStringList> stringArray(const QString &key) const;
    Result<JsonObjectReader> object(const QString &key) const;
    // The canonical 36-character hyphenated form, in either letter case; nothing else.
    Result<QUuid> uuid(const QString &key) const;

    // An error about the value at `key`, for checks the reader cannot make itself (e.g. a date's form).
    Error corrupted(const QString &key, const QString &problem) const;

    const QJsonObject &json() const { return m_object; }

private:
    Result<QJsonValue> required(const QString &key) const;
    QString pathOf(const QString &key) const;
    Error mismatch(const QString &key, const QString &expected) const;

    QJsonObject m_object;
    QString m_path;
};
