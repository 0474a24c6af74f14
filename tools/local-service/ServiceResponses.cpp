#include "ServiceResponses.h"

#include <QJsonDocument>

using namespace Qt::StringLiterals;
using StatusCode = QHttpServerResponse::StatusCode;

namespace {
QHttpServerResponse withCommonHeaders(QHttpServerResponse response)
{
    response.setHeader("Cache-Control"_ba, "no-store"_ba);
    response.setHeader("X-Content-Type-Options"_ba, "nosniff"_ba);
    response.setHeader("Referrer-Policy"_ba, "no-referrer"_ba);
    return response;
}
}

namespace ServiceResponses {
QHttpServerResponse json(const QJsonObject &body, StatusCode status)
{
    return withCommonHeaders(
        QHttpServerResponse("application/json"_ba, QJsonDocument(body).toJson(QJsonDocument::Compact), status));
}

QHttpServerResponse refusal(const Refusal &refusal)
{
    QHttpServerResponse response = json(QJsonObject{{u"error"_s, refusal.message}}, StatusCode(refusal.status));
    if (refusal.status == int(StatusCode::Unauthorized))
        response.setHeader("WWW-Authenticate"_ba, "Bearer realm=\"Tarnwick\""_ba);
    return response;
}

QHttpServerResponse html(const QByteArray &page, StatusCode status)
{
    QHttpServerResponse response = withCommonHeaders(QHttpServerResponse("text/html; charset=utf-8"_ba, page, status));
    // No scripts, no outside resources, no framing; the inline style sheet is the only extra.
    response.setHeader("Content-Security-Policy"_ba,
                       "default-src 'none'; style-src 'unsafe-inline'; frame-ancestors 'none'"_ba);
    return response;
}

QHttpServerResponse redirect(const QByteArray &location)
{
    QHttpServerResponse response = withCommonHeaders(QHttpServerResponse(StatusCode::Found));
    response.setHeader("Location"_ba, location);
    return response;
}

QHttpServerResponse noContent()
{
    return withCommonHeaders(QHttpServerResponse(StatusCode::NoContent));
}
}
