#include "DeviceAPIClient.h"

#include "api/APIError.h"
#include "api/ApiLog.h"
#include "common/JsonObjectReader.h"

#include <QCoreApplication>
#include <QCoroNetworkReply>
#include <QJsonDocument>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QSslConfiguration>
#include <QThread>

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>

namespace {

enum class Method { get, post, deleteResource };

// Why the client itself ended a transfer; Qt reports all of these as a cancellation.
enum class AbortReason { none, foreignRedirect, oversizedAnswer };

// What came back: the HTTP status (absent when the answer was not HTTP) and the body.
struct Answer
{
    std::optional<int> status;
    QByteArray body;
};

// The body of the private answer to currentDevice.
struct DeviceResponse
{
    Device device;

    static Result<DeviceResponse> fromJson(const QJsonValue &value, const QString &path)
    {
        JsonObjectReader reader(value, path);
        return reader.result(DeviceResponse{reader.record<Device>(QStringLiteral("device"))});
    }
};

struct ReplyDeleter
{
    void operator()(QNetworkReply *reply) const { reply->deleteLater(); }
};

Error networkError(QNetworkReply::NetworkError code, const QString &description)
{
    return Error{APIError::networkDomain, code, description};
}

int effectivePort(const QUrl &url)
{
    const QString scheme = url.scheme();
    return url.port(scheme == QLatin1String("https") ? 443 : scheme == QLatin1String("http") ? 80 : -1);
}

// A redirect may keep the Authorization header, so it is followed only to the origin the request went to.
bool isSameOrigin(const QUrl &a, const QUrl &b)
{
    return a.scheme() == b.scheme() && a.host() == b.host() && effectivePort(a) == effectivePort(b);
}

// Control characters in a header value would end the header early and let the rest pass as headers of
// its own.
bool isSafeHeaderValue(const QString &value)
{
    return std::none_of(value.begin(), value.end(), [](QChar c) { return c.unicode() < 0x20 || c.unicode() == 0x7f; });
}

// Qt 6.4 ends a transfer that times out as a cancellation; the only other cancellations are the client's
// own, which carry an AbortReason.
Error transportError(const QNetworkReply &reply, AbortReason reason)
{
    switch (reason) {
    case AbortReason::foreignRedirect:
        return networkError(QNetworkReply::InsecureRedirectError,
                            QStringLiteral("The server redirected the request to another site."));
    case AbortReason::oversizedAnswer:
        return networkError(QNetworkReply::UnknownContentError, QStringLiteral("The server’s answer is too large."));
    case AbortReason::none: break;
    }
    if (reply.error() == QNetworkReply::TimeoutError || reply.error() == QNetworkReply::OperationCanceledError)
        return networkError(QNetworkReply::TimeoutError, QStringLiteral("The request timed out."));
    return networkError(reply.error(), reply.errorString());
}

// Qt gives some answers that are not HTTP a status of 200 (a file: URL, for one).
bool isHttp(const QUrl &url)
{
    return url.scheme() == QLatin1String("https") || url.scheme() == QLatin1String("http");
}

// Connection, proxy and TLS failures; higher codes are Qt's names for HTTP statuses. Qt also names 407
// (Proxy Authentication Required) as a proxy failure: once the server has answered with a status, that
// status is the outcome, as every other one is.
bool isTransportError(const QNetworkReply &reply)
{
    const QNetworkReply::NetworkError error = reply.error();
    if (error == QNetworkReply::NoError || error >= QNetworkReply::ContentAccessDenied)
        return false;
    const bool proxyNamedStatus = error >= QNetworkReply::ProxyConnectionRefusedError
                                  && error <= QNetworkReply::UnknownProxyError
                                  && reply.attribute(QNetworkRequest::HttpStatusCodeAttribute).isValid();
    return !proxyNamedStatus;
}

QNetworkReply *start(QNetworkAccessManager &session, const QNetworkRequest &request, Method method,
                     const QByteArray &body)
{
    switch (method) {
    case Method::get: return session.get(request);
    case Method::post: return session.post(request, body);
    case Method::deleteResource: return session.deleteResource(request);
    }
    Q_UNREACHABLE();
    return nullptr;
}

QCoro::Task<Result<Answer>> perform(QPointer<QNetworkAccessManager> session, QNetworkRequest request, Method method,
                                    QByteArray body)
{
    if (!session)
        co_return failure(networkError(QNetworkReply::UnknownNetworkError, QStringLiteral("No network session.")));

    const std::unique_ptr<QNetworkReply, ReplyDeleter> reply(start(*session, request, method, body));
    QNetworkReply *const transfer = reply.get();
    AbortReason reason = AbortReason::none;
    QByteArray received;
    // The abort is queued: the transfer then never ends, and this coroutine never resumes, from inside one
    // of the reply's own signals.
    const auto abortFor = [&reason, transfer](AbortReason why) {
        if (reason != AbortReason::none)
            return;
        reason = why;
        QMetaObject::invokeMethod(transfer, &QNetworkReply::abort, Qt::QueuedConnection);
    };

    QObject::connect(transfer, &QNetworkReply::redirected, transfer, [&, origin = request.url()](const QUrl &target) {
        if (isSameOrigin(origin, origin.resolved(target)))
            Q_EMIT transfer->redirectAllowed();
        else
            abortFor(AbortReason::foreignRedirect);
    });
    QObject::connect(transfer, &QNetworkReply::metaDataChanged, transfer, [&] {
        const QVariant length = transfer->header(QNetworkRequest::ContentLengthHeader);
        if (length.isValid() && length.toLongLong() > DeviceAPIClient::maximumAnswerSize)
            abortFor(AbortReason::oversizedAnswer);
    });
    QObject::connect(transfer, &QNetworkReply::readyRead, transfer, [&] {
        if (reason != AbortReason::none)
            return;
        if (received.size() + transfer->bytesAvailable() > DeviceAPIClient::maximumAnswerSize)
            abortFor(AbortReason::oversizedAnswer);
        else
            received += transfer->readAll();
    });

    co_await transfer;
    transfer->disconnect();
    // The path only: the credential travels in a header and the code and verifier in the body.
    const QVariant answeredStatus = transfer->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    qCDebug(lcApi).noquote() << transfer->operation() << request.url().path() << "→"
                             << (answeredStatus.isValid() ? answeredStatus.toString() : transfer->errorString());

    if (reason != AbortReason::none || isTransportError(*transfer))
        co_return failure(transportError(*transfer, reason));
    received += transfer->readAll();
    if (received.size() > DeviceAPIClient::maximumAnswerSize)
        co_return failure(transportError(*transfer, AbortReason::oversizedAnswer));

    const QVariant status = transfer->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (status.isValid() && isHttp(transfer->url()))
        co_return Answer{status.toInt(), received};
    if (transfer->error() != QNetworkReply::NoError)
        co_return failure(transportError(*transfer, reason));
    co_return Answer{std::nullopt, received};
}

// The message of a refusal: the string member "error" of a JSON object body, or none.
QString refusalMessage(const QByteArray &body)
{
    const QJsonValue message = QJsonDocument::fromJson(body).object().value(QStringLiteral("error"));
    return message.isString() ? message.toString() : QString();
}

bool isSuccess(const Answer &answer)
{
    return answer.status && *answer.status >= 200 && *answer.status <= 299;
}

template<typename T>
QCoro::Task<Result<T>> send(QPointer<QNetworkAccessManager> session, QNetworkRequest request, Method method,
                            QByteArray body = {})
{
    const Result<Answer> answer = co_await perform(session, std::move(request), method, std::move(body));
    if (!answer)
        co_return failure(answer.error());
    if (!isSuccess(*answer))
        co_return failure(APIError::refused(answer->status.value_or(0), refusalMessage(answer->body)));
    co_return JsonObjectReader::decode<T>(answer->body);
}

QCoro::Task<Result<Device>> fetchDevice(QPointer<QNetworkAccessManager> session, QNetworkRequest request)
{
    const Result<DeviceResponse> response = co_await send<DeviceResponse>(session, std::move(request), Method::get);
    if (!response)
        co_return failure(response.error());
    co_return response->device;
}

QCoro::Task<Result<void>> revoke(QPointer<QNetworkAccessManager> session, QNetworkRequest request)
{
    const Result<Answer> answer = co_await perform(session, std::move(request), Method::deleteResource, {});
    if (!answer)
        co_return failure(answer.error());
    if (isSuccess(*answer) || answer->status == 401)
        co_return Result<void>();
    co_return failure(APIError::badServerResponse());
}

Error unsendableCredential()
{
    return networkError(QNetworkReply::ProtocolInvalidOperationError,
                        QStringLiteral("The saved device credential cannot be sent."));
}

template<typename T>
QCoro::Task<Result<T>> refuseAtOnce(Error error)
{
    co_return failure(std::move(error));
}

}

DeviceAPIClient::DeviceAPIClient(QUrl baseURL, QNetworkAccessManager *session)
    : m_baseURL(std::move(baseURL))
    , m_session(session)
    , m_usesSharedSession(!session)
{
}

QPointer<QNetworkAccessManager> DeviceAPIClient::session() const
{
    return m_usesSharedSession ? QPointer(sharedSession()) : m_session;
}

QUrl DeviceAPIClient::baseURL() const
{
    return m_baseURL;
}

QNetworkRequest DeviceAPIClient::request(const QString &path, double timeout) const
{
    QUrl url = m_baseURL;
    QString basePath = url.path(QUrl::FullyEncoded);
    if (!basePath.endsWith(u'/'))
        basePath += u'/';
    url.setPath(basePath + path, QUrl::StrictMode);

    QNetworkRequest request(url);
    const bool usable = std::isfinite(timeout) && timeout > 0;
    const double milliseconds = std::ceil((usable ? timeout : defaultTimeout) * 1000.0);
    request.setTransferTimeout(int(std::min(milliseconds, double(std::numeric_limits<int>::max()))));
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::UserVerifiedRedirectPolicy);
    // The credential is the only state between requests: the session's cookie jar is neither read nor fed.
    request.setAttribute(QNetworkRequest::CookieLoadControlAttribute, QNetworkRequest::Manual);
    request.setAttribute(QNetworkRequest::CookieSaveControlAttribute, QNetworkRequest::Manual);
    QSslConfiguration tls = request.sslConfiguration();
    tls.setPeerVerifyMode(QSslSocket::VerifyPeer);
    request.setSslConfiguration(tls);
    return request;
}

QNetworkRequest DeviceAPIClient::authorizedRequest(const QString &path, const QString &credential, double timeout) const
{
    QNetworkRequest authorized = request(path, timeout);
    authorized.setRawHeader("Authorization", "Bearer " + credential.toUtf8());
    return authorized;
}

QCoro::Task<Result<DeviceExchange>> DeviceAPIClient::exchange(QString code, QString verifier) const
{
    QNetworkRequest post = request(QStringLiteral("api/devices/exchange"), defaultTimeout);
    post.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/json"));
    const QJsonObject body{{QStringLiteral("code"), code}, {QStringLiteral("verifier"), verifier}};
    return send<DeviceExchange>(session(), post, Method::post, QJsonDocument(body).toJson(QJsonDocument::Compact));
}

QCoro::Task<Result<Device>> DeviceAPIClient::currentDevice(QString credential) const
{
    if (!isSafeHeaderValue(credential))
        return refuseAtOnce<Device>(unsendableCredential());
    return fetchDevice(session(), authorizedRequest(QStringLiteral("api/devices/me"), credential, defaultTimeout));
}

QCoro::Task<Result<void>> DeviceAPIClient::disconnect(QString credential) const
{
    if (!isSafeHeaderValue(credential))
        return refuseAtOnce<void>(unsendableCredential());
    return revoke(session(), authorizedRequest(QStringLiteral("api/devices/me"), credential, defaultTimeout));
}

QCoro::Task<Result<DeviceTaskActivity>> DeviceAPIClient::activity(QString credential, double timeout) const
{
    if (!isSafeHeaderValue(credential))
        return refuseAtOnce<DeviceTaskActivity>(unsendableCredential());
    return send<DeviceTaskActivity>(
        session(), authorizedRequest(QStringLiteral("api/devices/me/activity"), credential, timeout), Method::get);
}

QNetworkAccessManager *DeviceAPIClient::sharedSession()
{
    thread_local QPointer<QNetworkAccessManager> session;
    if (session)
        return session;
    session = new QNetworkAccessManager;
    QThread *const thread = QThread::currentThread();
    const QCoreApplication *const application = QCoreApplication::instance();
    if (application && application->thread() == thread)
        session->setParent(QCoreApplication::instance());
    else
        QObject::connect(thread, &QThread::finished, session.data(), &QObject::deleteLater);
    return session;
}
