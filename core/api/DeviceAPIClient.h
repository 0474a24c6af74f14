#pragma once

#include "api/DeviceExchange.h"
#include "api/DeviceTaskActivity.h"
#include "common/Error.h"

#include <QCoroTask>
#include <QNetworkRequest>
#include <QPointer>
#include <QUrl>

class QNetworkAccessManager;

// The client of the service's device API. Immutable after construction and free of state between
// requests: each operation builds one request, performs it once and reports the outcome. Operations may
// outlive the client object (they copy what they need), but not the session.
//
// Failures: the service's refusals as APIError::refused (domain "TarnwickAPI"); transport failures in
// domain "Network" with Qt's QNetworkReply::NetworkError as code (TimeoutError for a time-out,
// InsecureRedirectError for a redirect to another origin, UnknownContentError for an answer over 1 MiB,
// ProtocolInvalidOperationError for a credential that cannot go into a header, otherwise Qt's own error
// and text); and answers that do not decode as a decoding error (domain "JSONDecoding").
//
// Certificates are always verified, whatever the process's default TLS configuration says; cookies are
// neither sent nor kept; a redirect is followed only within the origin of the request.
class DeviceAPIClient
{
public:
    // Requests use `session`, or, when none is given, the shared session of the thread that sends them
    // (made at the first request, so a client that never sends loads no network stack).
    explicit DeviceAPIClient(QUrl baseURL, QNetworkAccessManager *session = nullptr);

    QUrl baseURL() const;

    QCoro::Task<Result<DeviceExchange>> exchange(QString code, QString verifier) const;
    QCoro::Task<Result<Device>> currentDevice(QString credential) const;
    // Succeeds on 2xx and on 401 (the credential is already given up); the answer's body is ignored.
    QCoro::Task<Result<void>> disconnect(QString credential) const;
    // `timeout` in seconds replaces the default of 60 seconds.
    QCoro::Task<Result<DeviceTaskActivity>> activity(QString credential, double timeout) const;

    // One session per thread, created on first use and destroyed with the thread (or the application).
    static QNetworkAccessManager *sharedSession();

    static constexpr double defaultTimeout = 60.0;
    // Answers larger than this are refused rather than buffered.
    static constexpr qint64 maximumAnswerSize = 1024 * 1024;

private:
    // The request for `path` below the base URL's path, with the time-out, the same-origin redirect rule
    // and certificate verification.
    QNetworkRequest request(const QString &path, double timeout) const;
    QNetworkRequest authorizedRequest(const QString &path, const QString &credential, double timeout) const;
    QPointer<QNetworkAccessManager> session() const;

    QUrl m_baseURL;
    QPointer<QNetworkAccessManager> m_session;
    bool m_usesSharedSession;
};
