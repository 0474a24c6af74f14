#include "ServiceResponses.h"

#include <QJsonDocument>

using StatusCode = QHttpServerResponse::StatusCode;

namespace {
QHttpServerResponse withCommonHeaders(QHttpServerResponse response)
{
    response.setHeader(QByteArrayLiteral("Cache-Control"), QByteArrayLiteral("no-store"));
    response.setHeader(QByteArrayLiteral("X-Content-Type-Options"), QByteArrayLiteral("nosniff"));
    response.setHeader(QByteArrayLiteral("Referrer-Policy"), QByteArrayLiteral("no-referrer"));
    return response;
}
}

namespace ServiceResponses {
QHttpServerResponse json(const QJsonObject &body, StatusCode status)
{
    return withCommonHeaders(QHttpServerResponse(QByteArrayLiteral("application/json"),
                                                 QJsonDocument(body).toJson(QJsonDocument::Compact), status));
}

QHttpServerResponse refusal(const Refusal &refusal)
{
    QHttpServerResponse response =
        json(QJsonObject{{QStringLiteral("error"), refusal.message}}, StatusCode(refusal.status));
    if (refusal.status == int(StatusCode::Unauthorized))
        response.setHeader(QByteArrayLiteral("WWW-Authenticate"), QByteArrayLiteral("Bearer realm=\"Tarnwick\""));
    return response;
}

QHttpServerResponse html(const QByteArray &page, StatusCode status)
{
    QHttpServerResponse response =
        withCommonHeaders(QHttpServerResponse(QByteArrayLiteral("text/html; charset=utf-8"), page, status));
    // No scripts, no outside resources, no framing; the inline style sheet is the only extra.
    response.setHeader(QByteArrayLiteral("Content-Security-Policy"),
                       QByteArrayLiteral("default-src 'none'; style-src 'unsafe-inline'; frame-ancestors 'none'"));
    return response;
}

QHttpServerResponse redirect(const QByteArray &location)
{
    QHttpServerResponse response = withCommonHeaders(QHttpServerResponse(StatusCode::Found));
    response.setHeader(QByteArrayLiteral("Location"), location);
    return response;
}

QHttpServerResponse noContent()
{
    return withCommonHeaders(QHttpServerResponse(StatusCode::NoContent));
}
}
