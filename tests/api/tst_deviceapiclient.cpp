#include "ScriptedServer.h"

#include "api/APIError.h"
#include "api/DeviceAPIClient.h"
#include "common/JsonObjectReader.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkCookieJar>
#include <QNetworkReply>
#include <QSslConfiguration>
#include <QTemporaryDir>
#include <QTest>

#include <QCoroTask>

using namespace Qt::StringLiterals;

namespace {

const QString credential = u"twk_device_6F1C2A3B-4D5E-4F60-8A9B-0C1D2E3F4A5B.abc-def_ghi.jkl"_s;
const QByteArray deviceBody = R"({"device":{"id":"6f1c2a3b-4d5e-4f60-8a9b-0c1d2e3f4a5b","name":"Desk",)"
                              R"("platform":"macos","architecture":"arm64","appVersion":"0.3.0","online":true}})";
const QByteArray exchangeBody = R"({"credential":"twk_device_x","device":{"id":"6f1c2a3b-4d5e-4f60-8a9b-0c1d2e3f4a5b",)"
                                R"("name":"Desk","platform":"macos","architecture":"arm64","appVersion":"0.3.0",)"
                                R"("lastSeenAt":null,"online":false}})";
const QByteArray activityBody = R"({"running":null,"recent":[]})";

// The session the client is given, keeping every request it was asked to make.
class RecordingSession : public QNetworkAccessManager
{
public:
    QList<QNetworkRequest> made;

protected:
    QNetworkReply *createRequest(Operation operation, const QNetworkRequest &request, QIODevice *body) override
    {
        made.append(request);
        return QNetworkAccessManager::createRequest(operation, request, body);
    }
};

template<typename T>
T run(QCoro::Task<T> task)
{
    return QCoro::waitFor(std::move(task));
}

template<typename T>
std::optional<Error> errorOf(const Result<T> &result)
{
    return result ? std::nullopt : std::optional(result.error());
}

}

class TestDeviceAPIClient : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void exchangePostsCodeAndVerifier()
    {
        ScriptedServer server;
        server.answer(u"/svc/api/devices/exchange"_s, 200, exchangeBody);
        RecordingSession session;
        const DeviceAPIClient client(server.url(u"/svc"_s), &session);

        const Result<DeviceExchange> exchange = run(client.exchange(u"the-code"_s, u"the-verifier"_s));

        QVERIFY(exchange.has_value());
        QCOMPARE(exchange->credential, u"twk_device_x"_s);
        QVERIFY(!exchange->device.lastSeenAt);
        QCOMPARE(server.requests().size(), 1);
        const ScriptedServer::Request request = server.requests().constFirst();
        QCOMPARE(request.method, QByteArray("POST"));
        QCOMPARE(request.path, u"/svc/api/devices/exchange"_s);
        QCOMPARE(request.header("Content-Type"), QByteArray("application/json"));
        QVERIFY(!request.hasHeader("Authorization"));
        QVERIFY(!request.hasHeader("Accept"));
        const QJsonObject body = QJsonDocument::fromJson(request.body).object();
        QCOMPARE(body, (QJsonObject{{u"code"_s, u"the-code"_s}, {u"verifier"_s, u"the-verifier"_s}}));
        QCOMPARE(session.made.constFirst().transferTimeout(), 60000);
    }

    void bearerRequests_data()
    {
        QTest::addColumn<QString>("operation");
        QTest::addColumn<QByteArray>("method");
        QTest::addColumn<QString>("path");
        QTest::newRow("currentDevice") << u"currentDevice"_s << QByteArray("GET") << u"/api/devices/me"_s;
        QTest::newRow("disconnect") << u"disconnect"_s << QByteArray("DELETE") << u"/api/devices/me"_s;
        QTest::newRow("activity") << u"activity"_s << QByteArray("GET") << u"/api/devices/me/activity"_s;
    }

    void bearerRequests()
    {
        QFETCH(QString, operation);
        QFETCH(QByteArray, method);
        QFETCH(QString, path);
        ScriptedServer server;
        server.answer(u"/api/devices/me"_s, 200, deviceBody);
        server.answer(u"/api/devices/me/activity"_s, 200, activityBody);
        RecordingSession session;
        // A base URL without a path gets the request path right after the host.
        const DeviceAPIClient client(QUrl(u"http://127.0.0.1:%1"_s.arg(server.port())), &session);

        bool succeeded = false;
        if (operation == u"currentDevice")
            succeeded = run(client.currentDevice(credential)).has_value();
        else if (operation == u"disconnect")
            succeeded = run(client.disconnect(credential)).has_value();
        else
            succeeded = run(client.activity(credential, 5)).has_value();

        QVERIFY(succeeded);
        QCOMPARE(server.requests().size(), 1);
        const ScriptedServer::Request request = server.requests().constFirst();
        QCOMPARE(request.method, method);
        QCOMPARE(request.path, path);
        QCOMPARE(request.header("Authorization"), "Bearer " + credential.toUtf8());
        QVERIFY(!request.hasHeader("Content-Type"));
        QVERIFY(!request.hasHeader("Accept"));
        QCOMPARE(session.made.size(), 1);
        QCOMPARE(session.made.constFirst().transferTimeout(), operation == u"activity" ? 5000 : 60000);
    }

    void cookiesAreNeitherKeptNorSent()
    {
        ScriptedServer server;
        server.answer(u"/api/devices/me"_s, 200, deviceBody,
                      {{"Content-Type", "application/json"}, {"Set-Cookie", "session=abc; Path=/"}});
        QNetworkAccessManager session;
        const DeviceAPIClient client(server.url(), &session);
        QVERIFY(run(client.currentDevice(credential)).has_value());
        QVERIFY(run(client.currentDevice(credential)).has_value());
        QCOMPARE(server.requests().size(), 2);
        QVERIFY(!server.requests().at(1).hasHeader("Cookie"));
        QVERIFY(session.cookieJar()->cookiesForUrl(server.url()).isEmpty());
    }

    void refusals_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QByteArray>("contentType");
        QTest::addColumn<QString>("description");
        const QString fallback = u"The server rejected the request."_s;
        QTest::newRow("400 with a message") << 400 << QByteArray(R"({"error":"The code has expired."})")
                                            << QByteArray("application/json") << u"The code has expired."_s;
        QTest::newRow("500 with HTML") << 500 << QByteArray("<html><body>Oops</body></html>")
                                       << QByteArray("text/html") << fallback;
        QTest::newRow("error an object") << 400 << QByteArray(R"({"error":{"message":"no"}})")
                                         << QByteArray("application/json") << fallback;
        QTest::newRow("error a number") << 422 << QByteArray(R"({"error":42})") << QByteArray("application/json")
                                        << fallback;
        QTest::newRow("array body") << 400 << QByteArray(R"(["error"])") << QByteArray("application/json") << fallback;
        QTest::newRow("401 empty") << 401 << QByteArray() << QByteArray() << fallback;
        QTest::newRow("404 with a message") << 404 << QByteArray(R"({"error":"No such device."})")
                                            << QByteArray("application/json") << u"No such device."_s;
        QTest::newRow("3xx that reaches the client") << 300 << QByteArray() << QByteArray() << fallback;
    }

    void refusals()
    {
        QFETCH(int, status);
        QFETCH(QByteArray, body);
        QFETCH(QByteArray, contentType);
        QFETCH(QString, description);
        ScriptedServer server;
        server.answer(u"/api/devices/me"_s, status, body, contentType);
        server.answer(u"/api/devices/me/activity"_s, status, body, contentType);
        server.answer(u"/api/devices/exchange"_s, status, body, contentType);
        const DeviceAPIClient client(server.url());

        const Error expected{APIError::domain, status, description};
        const Result<Device> device = run(client.currentDevice(credential));
        QVERIFY(!device);
        QCOMPARE(device.error(), expected);
        const Result<DeviceTaskActivity> activity = run(client.activity(credential, 5));
        QVERIFY(!activity);
        QCOMPARE(activity.error(), expected);
        const Result<DeviceExchange> exchange = run(client.exchange(u"c"_s, u"v"_s));
        QVERIFY(!exchange);
        QCOMPARE(exchange.error(), expected);
    }

    void answerThatIsNotHttpHasCodeZero()
    {
        QTemporaryDir root;
        QVERIFY(QDir(root.path()).mkpath(u"api/devices"_s));
        QFile answer(root.filePath(u"api/devices/me"_s));
        QVERIFY(answer.open(QIODevice::WriteOnly) && answer.write(deviceBody) == deviceBody.size());
        answer.close();

        const Result<Device> device =
            run(DeviceAPIClient(QUrl::fromLocalFile(root.path() + u'/')).currentDevice(credential));
        QVERIFY(!device);
        QCOMPARE(device.error(), (Error{APIError::domain, 0, u"The server rejected the request."_s}));
    }

    void undecodableSuccessFails_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<int>("code");
        QTest::newRow("not JSON") << QByteArray("OK") << int(JsonObjectReader::dataCorrupted);
        QTest::newRow("no device") << QByteArray(R"({"name":"Desk"})") << int(JsonObjectReader::keyNotFound);
        QTest::newRow("device without online")
            << QByteArray(R"({"device":{"id":"6f1c2a3b-4d5e-4f60-8a9b-0c1d2e3f4a5b","name":"Desk",)"
                          R"("platform":"macos","architecture":"arm64","appVersion":"0.3.0"}})")
            << int(JsonObjectReader::keyNotFound);
    }

    void undecodableSuccessFails()
    {
        QFETCH(QByteArray, body);
        QFETCH(int, code);
        ScriptedServer server;
        server.answer(u"/api/devices/me"_s, 200, body);
        const Result<Device> device = run(DeviceAPIClient(server.url()).currentDevice(credential));
        QVERIFY(!device);
        QCOMPARE(device.error().domain, JsonObjectReader::errorDomain);
        QCOMPARE(device.error().code, code);
    }

    void disconnectStatusRule_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<bool>("succeeds");
        QTest::newRow("200") << 200 << true;
        QTest::newRow("204") << 204 << true;
        QTest::newRow("401") << 401 << true;
        QTest::newRow("403") << 403 << false;
        QTest::newRow("404") << 404 << false;
        QTest::newRow("500") << 500 << false;
    }

    void disconnectStatusRule()
    {
        QFETCH(int, status);
        QFETCH(bool, succeeds);
        ScriptedServer server;
        server.answer(u"/api/devices/me"_s, status, R"({"error":"ignored"})");
        const Result<void> result = run(DeviceAPIClient(server.url()).disconnect(credential));
        QCOMPARE(result.has_value(), succeeds);
        if (!succeeds)
            QCOMPARE(result.error(), APIError::badServerResponse());
    }

    void silentServerTimesOut()
    {
        ScriptedServer server;
        server.hang(u"/api/devices/me/activity"_s);
        QElapsedTimer elapsed;
        elapsed.start();
        const Result<DeviceTaskActivity> activity = run(DeviceAPIClient(server.url()).activity(credential, 0.3));
        QVERIFY(!activity);
        QCOMPARE(activity.error().domain, APIError::networkDomain);
        QCOMPARE(activity.error().code, int(QNetworkReply::TimeoutError));
        QCOMPARE(activity.error().description, u"The request timed out."_s);
        QVERIFY(elapsed.elapsed() >= 250);
        QVERIFY(elapsed.elapsed() < 20000);
    }

    void unusableTimeoutFallsBackToTheDefault_data()
    {
        QTest::addColumn<double>("timeout");
        QTest::newRow("zero") << 0.0;
        QTest::newRow("negative") << -5.0;
        QTest::newRow("not a number") << std::nan("");
    }

    void unusableTimeoutFallsBackToTheDefault()
    {
        QFETCH(double, timeout);
        ScriptedServer server;
        server.answer(u"/api/devices/me/activity"_s, 200, activityBody);
        RecordingSession session;
        QVERIFY(run(DeviceAPIClient(server.url(), &session).activity(credential, timeout)).has_value());
        QCOMPARE(session.made.constFirst().transferTimeout(), 60000);
    }

    void redirectWithinTheOriginIsFollowed()
    {
        ScriptedServer server;
        server.redirect(u"/api/devices/me"_s, server.url(u"/moved/me"_s), 307);
        server.answer(u"/moved/me"_s, 200, deviceBody);
        const Result<Device> device = run(DeviceAPIClient(server.url()).currentDevice(credential));
        QVERIFY(device.has_value());
        QCOMPARE(server.requests(u"/moved/me"_s).size(), 1);
        QCOMPARE(server.requests(u"/moved/me"_s).constFirst().header("Authorization"), "Bearer " + credential.toUtf8());
    }

    void redirectToAnotherOriginIsRefused_data()
    {
        QTest::addColumn<QString>("operation");
        QTest::newRow("currentDevice") << u"currentDevice"_s;
        QTest::newRow("disconnect") << u"disconnect"_s;
        QTest::newRow("activity") << u"activity"_s;
    }

    void redirectToAnotherOriginIsRefused()
    {
        QFETCH(QString, operation);
        ScriptedServer service;
        ScriptedServer elsewhere;
        elsewhere.answer(u"/api/devices/me"_s, 200, deviceBody);
        elsewhere.answer(u"/api/devices/me/activity"_s, 200, activityBody);
        service.redirect(u"/api/devices/me"_s, elsewhere.url(u"/api/devices/me"_s));
        service.redirect(u"/api/devices/me/activity"_s, elsewhere.url(u"/api/devices/me/activity"_s));
        const DeviceAPIClient client(service.url());

        std::optional<Error> error;
        if (operation == u"currentDevice")
            error = errorOf(run(client.currentDevice(credential)));
        else if (operation == u"disconnect")
            error = errorOf(run(client.disconnect(credential)));
        else
            error = errorOf(run(client.activity(credential, 5)));

        QVERIFY(error);
        QCOMPARE(error->domain, APIError::networkDomain);
        QCOMPARE(error->code, int(QNetworkReply::InsecureRedirectError));
        QCOMPARE(service.requests().size(), 1);
        QVERIFY(elsewhere.requests().isEmpty());
    }

    void oversizedAnswerIsRefused_data()
    {
        QTest::addColumn<qint64>("size");
        QTest::addColumn<bool>("announceLength");
        QTest::newRow("announced") << qint64(3 * 1024 * 1024) << true;
        QTest::newRow("unannounced") << qint64(3 * 1024 * 1024) << false;
        QTest::newRow("one byte over, unannounced") << DeviceAPIClient::maximumAnswerSize + 1 << false;
    }

    void oversizedAnswerIsRefused()
    {
        QFETCH(qint64, size);
        QFETCH(bool, announceLength);
        ScriptedServer server;
        server.stream(u"/api/devices/me/activity"_s, size, announceLength);
        const Result<DeviceTaskActivity> activity = run(DeviceAPIClient(server.url()).activity(credential, 10));
        QVERIFY(!activity);
        QCOMPARE(activity.error().domain, APIError::networkDomain);
        QCOMPARE(activity.error().code, int(QNetworkReply::UnknownContentError));
    }

    void answerOfExactlyTheLimitIsRead()
    {
        ScriptedServer server;
        // Spaces around an empty activity: valid JSON of exactly the largest accepted size.
        QByteArray body(DeviceAPIClient::maximumAnswerSize, ' ');
        body.replace(0, activityBody.size(), activityBody);
        server.answer(u"/api/devices/me/activity"_s, 200, body);
        QVERIFY(run(DeviceAPIClient(server.url()).activity(credential, 10)).has_value());
    }

    void certificatesAreVerified_data()
    {
        QTest::addColumn<bool>("trusted");
        QTest::addColumn<QSslSocket::PeerVerifyMode>("defaultMode");
        QTest::addColumn<bool>("succeeds");
        QTest::newRow("unknown certificate") << false << QSslSocket::AutoVerifyPeer << false;
        // Someone in the process turning verification off for everyone must not reach these requests.
        QTest::newRow("default told not to verify") << false << QSslSocket::VerifyNone << false;
        QTest::newRow("trusted certificate") << true << QSslSocket::AutoVerifyPeer << true;
    }

    void certificatesAreVerified()
    {
        QFETCH(bool, trusted);
        QFETCH(QSslSocket::PeerVerifyMode, defaultMode);
        QFETCH(bool, succeeds);
        const QString certificate = QStringLiteral(TESTS_DATA_DIR "/api/untrusted-cert.pem");
        const QString key = QStringLiteral(TESTS_DATA_DIR "/api/untrusted-key.pem");
        ScriptedServer server(ScriptedServer::Tls{certificate, key});
        QVERIFY(server.port() != 0);
        server.answer(u"/api/devices/me"_s, 200, deviceBody);

        const QSslConfiguration original = QSslConfiguration::defaultConfiguration();
        const auto restore = qScopeGuard([&] { QSslConfiguration::setDefaultConfiguration(original); });
        QSslConfiguration changed = original;
        changed.setPeerVerifyMode(defaultMode);
        if (trusted)
            changed.setCaCertificates(QSslCertificate::fromPath(certificate));
        QSslConfiguration::setDefaultConfiguration(changed);

        QNetworkAccessManager session;
        const Result<Device> device = run(DeviceAPIClient(server.url(), &session).currentDevice(credential));
        QCOMPARE(device.has_value(), succeeds);
        QCOMPARE(server.requests().size(), succeeds ? 1 : 0);
        if (!succeeds)
            QCOMPARE(device.error().code, int(QNetworkReply::SslHandshakeFailedError));
    }

    void closedPortIsATransportFailure()
    {
        quint16 port = 0;
        {
            ScriptedServer gone;
            port = gone.port();
        }
        const Result<Device> device =
            run(DeviceAPIClient(QUrl(u"http://127.0.0.1:%1/"_s.arg(port))).currentDevice(credential));
        QVERIFY(!device);
        QVERIFY(APIError::isTransportFailure(device.error()));
        QCOMPARE(device.error().code, int(QNetworkReply::ConnectionRefusedError));
    }

    void credentialThatWouldSplitTheHeaderIsNotSent()
    {
        ScriptedServer server;
        server.answer(u"/api/devices/me"_s, 200, deviceBody);
        const Result<Device> device =
            run(DeviceAPIClient(server.url()).currentDevice(credential + u"\r\nX-Injected: 1"_s));
        QVERIFY(!device);
        QVERIFY(APIError::isTransportFailure(device.error()));
        QVERIFY(server.requests().isEmpty());
    }

    void operationOutlivesItsClient()
    {
        ScriptedServer server;
        server.answer(u"/api/devices/me"_s, 200, deviceBody);
        QCoro::Task<Result<Device>> pending = [&] {
            const DeviceAPIClient client(server.url());
            return client.currentDevice(credential);
        }();
        QVERIFY(run(std::move(pending)).has_value());
    }

    void sharedSessionIsOnePerThread()
    {
        QNetworkAccessManager *const session = DeviceAPIClient::sharedSession();
        QCOMPARE(DeviceAPIClient::sharedSession(), session);
        QNetworkAccessManager *other = nullptr;
        QThread *thread = QThread::create([&] { other = DeviceAPIClient::sharedSession(); });
        thread->start();
        QVERIFY(thread->wait(10000));
        delete thread;
        QVERIFY(other && other != session);
    }
};

QTEST_GUILESS_MAIN(TestDeviceAPIClient)
#include "tst_deviceapiclient.moc"
