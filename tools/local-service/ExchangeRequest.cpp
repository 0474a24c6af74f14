#include "ExchangeRequest.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

namespace {
bool isVerifier(const QString &text)
{
    static const QRegularExpression form(QStringLiteral("^[A-Za-z0-9._~-]{43,128}$"));
    return form.match(text).hasMatch();
}
}

Checked<ExchangeRequest> ExchangeRequest::fromJson(const QByteArray &body)
{
    const QJsonObject object = QJsonDocument::fromJson(body).object();
    const QJsonValue code = object.value(QStringLiteral("code"));
    const QJsonValue verifier = object.value(QStringLiteral("verifier"));
    if (!code.isString() || !verifier.isString())
        return refuse(400,
                      QStringLiteral("The exchange needs a JSON object with the text members “code” and “verifier”."));
    if (!isVerifier(verifier.toString()))
        return refuse(400, QStringLiteral(
                               "The verifier must be 43 to 128 characters from A–Z, a–z, 0–9, “-”, “.”, “_” and “~”."));
    return ExchangeRequest{code.toString(), verifier.toString()};
}
