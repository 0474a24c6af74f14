#pragma once

#include "Refusal.h"

#include <QByteArray>
#include <QHttpServerResponse>
#include <QJsonObject>

// The shapes of the service's answers. Nothing it answers may be cached, and browsers are told not to
// guess content types or pass the pages' addresses (which carry the pairing state) on to other sites.
namespace ServiceResponses {
QHttpServerResponse json(const QJsonObject &body, QHttpServerResponse::StatusCode status);

// {"error": message} with the refusal's status; a 401 also names the bearer scheme it expects.
QHttpServerResponse refusal(const Refusal &refusal);

QHttpServerResponse html(const QByteArray &page, QHttpServerResponse::StatusCode status);

// A 302 to `location`, given fully encoded.
QHttpServerResponse redirect(const QByteArray &location);

QHttpServerResponse noContent();
}
