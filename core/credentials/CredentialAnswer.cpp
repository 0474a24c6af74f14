#include "CredentialAnswer.h"

#include <QJsonDocument>
#include <QJsonObject>

namespace {

const QString credentialKey = QStringLiteral("credential");
const QString errorKey = QStringLiteral("error");
const QString domainKey = QStringLiteral("domain");
const QString codeKey = QStringLiteral("code");
const QString descriptionKey = QStringLiteral("description");

}

QByteArray CredentialAnswer::encode(const CredentialReading::Answer &answer)
{
    QJsonObject encoded;
    if (answer) {
        encoded.insert(credentialKey, *answer ? QJsonValue(**answer) : QJsonValue());
    } else {
        const Error &error = answer.error();
        encoded.insert(
            errorKey,
            QJsonObject{{domainKey, error.domain}, {codeKey, error.code}, {descriptionKey, error.description}});
    }
    return QJsonDocument(encoded).toJson(QJsonDocument::Compact);
}

int CredentialAnswer::exitStatus(const CredentialReading::Answer &answer)
{
    return answer ? answered : notRead;
}

std::optional<CredentialReading::Answer> CredentialAnswer::decode(const QByteArray &output, int exitStatus)
{
    const QJsonObject answer = QJsonDocument::fromJson(output).object();
    if (exitStatus == answered) {
        const QJsonValue credential = answer.value(credentialKey);
        if (credential.isString())
            return credential.toString();
        if (credential.isNull())
            return std::optional<QString>();
    } else if (exitStatus == notRead) {
        const QJsonObject error = answer.value(errorKey).toObject();
        const QJsonValue domain = error.value(domainKey);
        const QJsonValue code = error.value(codeKey);
        const QJsonValue description = error.value(descriptionKey);
        if (domain.isString() && code.isDouble() && description.isString())
            return failure(Error{domain.toString(), code.toInt(), description.toString()});
    }
    return std::nullopt;
}
