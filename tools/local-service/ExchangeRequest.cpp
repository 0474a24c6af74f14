#include "ExchangeRequest.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

using namespace Qt::StringLiterals;

namespace {
bool isVerifier(const QString &text)
{
    static const QRegularExpression form(u"^[A-Za-z0-9._~-]{43,128}$"_s);
    return form.match(text).hasMatch();
}
}

Checked<ExchangeRequest> ExchangeRequest::fromJson(const QByteArray &body)
{
    const QJsonObject object = QJsonDocument::fromJson(body).object();
    const QJsonValue code = object.value(u"code"_s);
    const QJsonValue verifier = object.value(u"verifier"_s);
    if (!code.isString() || !verifier.isString())
        return refuse(400, u"The exchange needs a JSON object with the text members “code” and “verifier”."_s);
    if (!isVerifier(verifier.toString()))
        return refuse(400, u"The verifier must be 43 to 128 characters from A–Z, a–z, 0–9, “-”, “.”, “_” and “~”."_s);
    return ExchangeRequest{code.toString(), verifier.toString()};
}
