#pragma once

#include "Refusal.h"

#include <QByteArray>
#include <QString>

// The body of an exchange: the one-time code of the callback and the proof-key verifier behind it.
struct ExchangeRequest
{
    QString code;
    QString verifier;

    // A JSON object with the text members "code" and "verifier"; the verifier in the form RFC 7636 gives
    // it (43 to 128 unreserved characters).
    static Checked<ExchangeRequest> fromJson(const QByteArray &body);

    friend bool operator==(const ExchangeRequest &, const ExchangeRequest &) = default;
};
