#include "APIError.h"

#include <QNetworkReply>

namespace APIError {

Error refused(int status, const QString &message)
{
    return Error{domain, status, message.isEmpty() ? QStringLiteral("The server rejected the request.") : message};
}

Error badServerResponse()
{
    return Error{networkDomain, QNetworkReply::ProtocolFailure,
                 QStringLiteral("The server returned an unexpected response.")};
}

bool isUnauthorized(const Error &error)
{
    return error.domain == domain && error.code == 401;
}

}
