#pragma once

#include "common/Error.h"

// Failures of the device API. The service reports a refusal through an HTTP status (domain
// "TarnwickAPI", code = the status, or 0 when the answer was not HTTP); everything that goes wrong before
// an answer arrives is a transport failure (domain "Network", code = the QNetworkReply::NetworkError).
namespace APIError {

inline const QString domain = QStringLiteral("TarnwickAPI");
inline const QString networkDomain = QStringLiteral("Network");

// The service's refusal, worded by its message or by the fixed default text.
Error refused(int status, const QString &message);

// The answer was not one the operation can accept (disconnect's rule).
Error badServerResponse();

// True for the refusal that means the service no longer accepts the credential.
bool isUnauthorized(const Error &error);

}
