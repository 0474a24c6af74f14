#include "LocalService.h"

#include "ExchangeRequest.h"
#include "HtmlPages.h"
#include "ServiceResponses.h"
#include "WireText.h"

#include <QHttpServerRequest>
#include <QTcpServer>
#include <QUrlQuery>

using Method = QHttpServerRequest::Method;
using StatusCode = QHttpServerResponse::StatusCode;

namespace {
struct Route
{
    QString path;
    QByteArray methods;
    // The path also takes one further segment (the connection page's build).
    bool withSegment = false;

    bool matches(const QString &requested) const
    {
        if (requested == path)
            return true;
        if (!withSegment || !requested.startsWith(path + u'/'))
            return false;
        const QString segment = requested.sliced(path.size() + 1);
        return !segment.isEmpty() && !segment.contains(u'/');
    }
};

// Every path the service answers, with its methods, so that a wrong method is told apart from a wrong path.
const Route knownRoutes[] = {
    {QStringLiteral("/"), QByteArrayLiteral("GET")},
    {QStringLiteral("/connect/mac"), QByteArrayLiteral("GET"), true},
    {QStringLiteral("/connect/approve"), QByteArrayLiteral("POST")},
    {QStringLiteral("/api/devices/exchange"), QByteArrayLiteral("POST")},
    {QStringLiteral("/api/devices/me"), QByteArrayLiteral("GET, DELETE")},
    {QStringLiteral("/api/devices/me/activity"), QByteArrayLiteral("GET")},
};

QDateTime currentTime()
{
    return QDateTime::currentDateTimeUtc();
}

bool isApiPath(const QString &path)
{
    return path.startsWith(QStringLiteral("/api/"));
}

QHttpServerResponse pageRefusal(const QString &title, const Refusal &refusal)
{
    return ServiceResponses::html(HtmlPages::problem(title, refusal.message), StatusCode(refusal.status));
}

// The API answers in JSON, the browser pages in HTML.
QHttpServerResponse refusalFor(const QString &path, const QString &title, const Refusal &refusal)
{
    return isApiPath(path) ? ServiceResponses::refusal(refusal) : pageRefusal(title, refusal);
}

QByteArray headerValue(const QHttpServerRequest &request, QByteArrayView name)
{
    for (const auto &[key, value] : request.headers()) {
        if (name.compare(key, Qt::CaseInsensitive) == 0)
            return value.trimmed();
    }
    return {};
}

// Every character outside the unreserved set is percent-encoded, so any decoder reads the state back as sent.
QByteArray callbackLocation(const PairingLedger::Approval &approval)
{
    return QByteArrayLiteral("tarnwick://auth/callback?state=") + QUrl::toPercentEncoding(approval.state)
           + QByteArrayLiteral("&code=") + QUrl::toPercentEncoding(approval.code);
}
}

LocalService::LocalService(const ServiceOptions &options, ActivityFeed feed, QObject *parent)
    : QObject(parent)
    , m_ledger(options.codeLifetime)
    , m_feed(std::move(feed))
    , m_approveImmediately(options.approveImmediately)
{
    addRoutes();
}

std::expected<quint16, QString> LocalService::listen(quint16 port)
{
    auto *tcpServer = new QTcpServer(&m_server);
    if (!tcpServer->listen(QHostAddress::LocalHost, port)) {
        const QString reason = tcpServer->errorString();
        delete tcpServer;
        return std::unexpected(QStringLiteral("Cannot listen on 127.0.0.1:%1: %2.").arg(QString::number(port), reason));
    }
    m_server.bind(tcpServer);
    return tcpServer->serverPort();
}

void LocalService::addRoutes()
{
    m_server.route(QStringLiteral("/connect/mac"), Method::Get,
                   [this](const QHttpServerRequest &request) { return connectionPage(std::nullopt, request); });
    m_server.route(
        QStringLiteral("/connect/mac/<arg>"), Method::Get,
        [this](const QString &build, const QHttpServerRequest &request) { return connectionPage(build, request); });
    m_server.route(QStringLiteral("/connect/approve"), Method::Post,
                   [this](const QHttpServerRequest &request) { return approve(request); });
    m_server.route(QStringLiteral("/api/devices/exchange"), Method::Post,
                   [this](const QHttpServerRequest &request) { return exchange(request); });
    m_server.route(QStringLiteral("/api/devices/me"), Method::Get,
                   [this](const QHttpServerRequest &request) { return currentDevice(request); });
    m_server.route(QStringLiteral("/api/devices/me"), Method::Delete,
                   [this](const QHttpServerRequest &request) { return disconnect(request); });
    m_server.route(QStringLiteral("/api/devices/me/activity"), Method::Get,
                   [this](const QHttpServerRequest &request) { return activity(request); });
    m_server.route(QStringLiteral("/"), Method::Get,
                   [this](const QHttpServerRequest &request) { return dashboard(request); });
    m_server.setMissingHandler([this](const QHttpServerRequest &request, QHttpServerResponder &&responder) {
        missing(request).write(std::move(responder));
    });
}

QHttpServerResponse LocalService::connectionPage(const std::optional<QString> &build, const QHttpServerRequest &request)
{
    const auto connection = ConnectionRequest::fromQuery(request.query(), build);
    if (!connection)
        return pageRefusal(QStringLiteral("This connection link is not valid"), connection.error());
    const QDateTime now = currentTime();
    const QString connectionId = m_ledger.open(*connection, now);
    if (m_approveImmediately)
        return approved(connectionId, now);
    return ServiceResponses::html(HtmlPages::connection(*connection, connectionId), StatusCode::Ok);
}

QHttpServerResponse LocalService::approve(const QHttpServerRequest &request)
{
    const QUrlQuery form(QString::fromUtf8(request.body()));
    return approved(form.queryItemValue(QStringLiteral("connection"), QUrl::FullyDecoded), currentTime());
}

QHttpServerResponse LocalService::approved(const QString &connectionId, const QDateTime &now)
{
    const auto approval = m_ledger.approve(connectionId, now);
    if (!approval)
        return pageRefusal(QStringLiteral("This Mac cannot be allowed"), approval.error());
    return ServiceResponses::redirect(callbackLocation(*approval));
}

QHttpServerResponse LocalService::exchange(const QHttpServerRequest &request)
{
    const auto exchange = ExchangeRequest::fromJson(request.body());
    if (!exchange)
        return ServiceResponses::refusal(exchange.error());
    const QDateTime now = currentTime();
    const auto connection = m_ledger.redeem(exchange->code, exchange->verifier, now);
    if (!connection)
        return ServiceResponses::refusal(connection.error());
    const DeviceRegistry::Enrolment enrolment = m_registry.enroll(*connection, now);
    return ServiceResponses::json(QJsonObject{{QStringLiteral("credential"), enrolment.credential},
                                              {QStringLiteral("device"), enrolment.device.toJson(now)}},
                                  StatusCode::Ok);
}

QHttpServerResponse LocalService::currentDevice(const QHttpServerRequest &request)
{
    const QDateTime now = currentTime();
    const auto device = authenticate(request, now);
    if (!device)
        return ServiceResponses::refusal(device.error());
    return ServiceResponses::json(QJsonObject{{QStringLiteral("device"), device->toJson(now)}}, StatusCode::Ok);
}

QHttpServerResponse LocalService::disconnect(const QHttpServerRequest &request)
{
    const auto device = authenticate(request, currentTime());
    if (!device)
        return ServiceResponses::refusal(device.error());
    m_registry.disconnect(device->id);
    return ServiceResponses::noContent();
}

QHttpServerResponse LocalService::activity(const QHttpServerRequest &request)
{
    const auto device = authenticate(request, currentTime());
    if (!device)
        return ServiceResponses::refusal(device.error());
    return ServiceResponses::json(m_feed.json(), StatusCode::Ok);
}

QHttpServerResponse LocalService::dashboard(const QHttpServerRequest &request)
{
    const QUrlQuery query = request.query();
    if (!query.hasQueryItem(QStringLiteral("task")))
        return ServiceResponses::html(HtmlPages::dashboard(m_feed, m_registry.devices(), currentTime()),
                                      StatusCode::Ok);
    const auto taskId = WireText::parseUuid(query.queryItemValue(QStringLiteral("task"), QUrl::FullyDecoded));
    if (!taskId)
        return pageRefusal(QStringLiteral("No such task"),
                           Refusal{400, QStringLiteral("The link does not name a task.")});
    const auto task = m_feed.task(*taskId);
    if (!task)
        return pageRefusal(QStringLiteral("No such task"),
                           Refusal{404, QStringLiteral("There is no task with this identifier.")});
    return ServiceResponses::html(HtmlPages::task(*task), StatusCode::Ok);
}

QHttpServerResponse LocalService::missing(const QHttpServerRequest &request) const
{
    const QString path = request.url().path();
    for (const Route &route : knownRoutes) {
        if (route.matches(path)) {
            QHttpServerResponse response =
                refusalFor(path, QStringLiteral("Method not allowed"),
                           Refusal{405, QStringLiteral("This address does not take that method.")});
            response.setHeader(QByteArrayLiteral("Allow"), route.methods);
            return response;
        }
    }
    return refusalFor(path, QStringLiteral("Page not found"),
                      Refusal{404, QStringLiteral("There is nothing at this address.")});
}

Checked<RegisteredDevice> LocalService::authenticate(const QHttpServerRequest &request, const QDateTime &now)
{
    static constexpr QByteArrayView scheme = "bearer ";
    const QByteArray authorization = headerValue(request, "Authorization");
    if (!authorization.toLower().startsWith(scheme))
        return refuse(401, QStringLiteral("This request needs the Mac’s device credential."));
    const auto device = m_registry.authenticate(QString::fromUtf8(authorization.sliced(scheme.size()).trimmed()), now);
    if (!device)
        return refuse(401, QStringLiteral("This Mac is no longer connected to your account. Connect it again."));
    return *device;
}
