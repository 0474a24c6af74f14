#include "ScriptedServer.h"

#include "api/APIError.h"
#include "api/DeviceAPIClient.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QSslConfiguration>
#include <QTest>

#include <QCoroTask>

using namespace Qt::StringLiterals;

namespace {

const QString credential = u"twk_device_6F1C2A3B-4D5E-4F60-8A9B-0C1D2E3F4A5B.abc-def_ghi.jkl"_s;
const QByteArray device = R"({"id":"6f1c2a3b-4d5e-4f60-8a9b-0c1d2e3f4a5b","name":"Desk","platform":"macos",)"
                          R"("architecture":"arm64","appVersion":"0.3.0","online":true})";
const QByteArray deviceBody = R"({"device":)" + device + "}";
const QByteArray exchangeBody = R"({"credential":"twk_device_x","device":)" + device + "}";
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
Result<void> outcome(QCoro::Task<Result<T>> task)
{
    const Result<T> result = QCoro::waitFor(std::move(task));
    return result ? Result<void>() : failure(result.error());
}

// Runs one operation of the client by name; only its outcome counts.
Result<void> perform(const DeviceAPIClient &client, const QString &operation, double timeout = 5)
{
    if (operation == u"exchange")
        return outcome(client.exchange(u"the-code"_s, u"the-verifier"_s));
    if (operation == u"currentDevice")
        return outcome(client.currentDevice(credential));
    if (operation == u"disconnect")
        return QCoro::waitFor(client.disconnect(credential));
    return outcome(client.activity(credential, timeout));
}

// Every route answers alike, below the base path `base`; a null body stands for a valid answer.
void answerEverywhere(ScriptedServer &server, int status, const QByteArray &body, const QByteArray &contentType = "",
                      const QString &base = {})
{
    server.answer(base + u"/api/devices/exchange"_s, status, body.isNull() ? exchangeBody : body, contentType);
    server.answer(base + u"/api/devices/me"_s, status, body.isNull() ? deviceBody : body, contentType);
    server.answer(base + u"/api/devices/me/activity"_s, status, body.isNull() ? activityBody : body, contentType);
}

}

class TestDeviceAPIClient : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void exactRequests_data()
    {
        QTest::addColumn<QString>("operation");
        QTest::addColumn<double>("timeout");
        QTest::addColumn<QByteArray>("method");
        QTest::addColumn<QString>("path");
        QTest::addColumn<int>("transferTimeout");
        QTest::newRow("exchange") << u"exchange"_s << 5.0 << QByteArray("POST") << u"exchange"_s << 60000;
        QTest::newRow("currentDevice") << u"currentDevice"_s << 5.0 << QByteArray("GET") << u"me"_s << 60000;
        QTest::newRow("disconnect") << u"disconnect"_s << 5.0 << QByteArray("DELETE") << u"me"_s << 60000;
        QTest::newRow("activity") << u"activity"_s << 5.0 << QByteArray("GET") << u"me/activity"_s << 5000;
        // A time-out that is no time at all falls back to the default.
        QTest::newRow("activity, zero") << u"activity"_s << 0.0 << QByteArray("GET") << u"me/activity"_s << 60000;
        QTest::newRow("activity, NaN") << u"activity"_s << std::nan("") << QByteArray("GET") << u"me/activity"_s
                                       << 60000;
    }

    void exactRequests()
    {
        QFETCH(QString, operation);
        QFETCH(double, timeout);
        QFETCH(QByteArray, method);
        QFETCH(QString, path);
        QFETCH(int, transferTimeout);
        ScriptedServer server;
        answerEverywhere(server, 200, {}, "application/json", u"/svc"_s);
        RecordingSession session;

        QVERIFY(perform(DeviceAPIClient(server.url(u"/svc"_s), &session), operation, timeout));

        QCOMPARE(server.requests().size(), 1);
        const ScriptedServer::Request request = server.requests().constFirst();
        QCOMPARE(request.method, method);
        QCOMPARE(request.path, u"/svc/api/devices/"_s + path);
        QVERIFY(request.header("Accept").isNull());
        QVERIFY(request.header("Cookie").isNull());
        QCOMPARE(session.made.constFirst().transferTimeout(), transferTimeout);
        if (operation == u"exchange") {
            QVERIFY(request.header("Authorization").isNull());
            QCOMPARE(request.header("Content-Type"), QByteArray("application/json"));
            QCOMPARE(QJsonDocument::fromJson(request.body).object(),
                     (QJsonObject{{u"code"_s, u"the-code"_s}, {u"verifier"_s, u"the-verifier"_s}}));
        } else {
            QCOMPARE(request.header("Authorization"), "Bearer " + credential.toUtf8());
            QVERIFY(request.header("Content-Type").isNull());
        }
    }

    void refusals_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QByteArray>("contentType");
        QTest::addColumn<QString>("description");
        const QString fallback = u"The server rejected the request."_s;
        const QByteArray json = "application/json";
        QTest::newRow("400 with a message") << 400 << QByteArray(R"({"error":"The code has expired."})") << json
                                            << u"The code has expired."_s;
        QTest::newRow("404 with a message") << 404 << QByteArray(R"({"error":"No such device."})") << json
                                            << u"No such device."_s;
        QTest::newRow("500 with HTML") << 500 << QByteArray("<html><body>Oops</body></html>")
                                       << QByteArray("text/html") << fallback;
        QTest::newRow("error an object") << 400 << QByteArray(R"({"error":{"message":"no"}})") << json << fallback;
        QTest::newRow("error a number") << 422 << QByteArray(R"({"error":42})") << json << fallback;
        QTest::newRow("array body") << 400 << QByteArray(R"(["error"])") << json << fallback;
        QTest::newRow("401 empty") << 401 << QByteArray("") << QByteArray() << fallback;
        QTest::newRow("3xx that reaches the client") << 300 << QByteArray("") << QByteArray() << fallback;
    }

    void refusals()
    {
        QFETCH(int, status);
        QFETCH(QByteArray, body);
        QFETCH(QByteArray, contentType);
        QFETCH(QString, description);
        ScriptedServer server;
        answerEverywhere(server, status, body, contentType);
        const DeviceAPIClient client(server.url());
        for (const QString &operation : {u"exchange"_s, u"currentDevice"_s, u"activity"_s}) {
            const Result<void> result = perform(client, operation);
            QVERIFY2(!result, qPrintable(operation));
            QCOMPARE(result.error(), (Error{APIError::domain, status, description}));
        }
    }

    // Giving up a credential the service no longer knows is a success; other refusals are not.
    void disconnectStatuses_data()
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

    void disconnectStatuses()
    {
        QFETCH(int, status);
        QFETCH(bool, succeeds);
        ScriptedServer server;
        server.answer(u"/api/devices/me"_s, status, R"({"error":"ignored"})");
        const Result<void> result = perform(DeviceAPIClient(server.url()), u"disconnect"_s);
        QCOMPARE(result.has_value(), succeeds);
        if (!succeeds)
            QCOMPARE(result.error(), APIError::badServerResponse());
    }

    void silentServerTimesOutAtTheCallersTimeout()
    {
        ScriptedServer server;
        server.hang(u"/api/devices/me/activity"_s);
        QElapsedTimer elapsed;
        elapsed.start();
        const Result<void> result = perform(DeviceAPIClient(server.url()), u"activity"_s, 0.3);
        QVERIFY(!result);
        QCOMPARE(result.error(), (Error{APIError::networkDomain, int(QNetworkReply::TimeoutError),
                                        u"The request timed out."_s}));
        QVERIFY(elapsed.elapsed() >= 250);
        QVERIFY(elapsed.elapsed() < 20000);
    }

    void redirectToAnotherOriginIsRefused_data()
    {
        QTest::addColumn<QString>("operation");
        QTest::newRow("currentDevice") << u"currentDevice"_s;
        QTest::newRow("disconnect") << u"disconnect"_s;
        QTest::newRow("activity") << u"activity"_s;
    }

    // The credential must never reach another origin.
    void redirectToAnotherOriginIsRefused()
    {
        QFETCH(QString, operation);
        ScriptedServer service;
        ScriptedServer elsewhere;
        answerEverywhere(elsewhere, 200, {});
        service.redirect(u"/api/devices/me"_s, elsewhere.url(u"/api/devices/me"_s));
        service.redirect(u"/api/devices/me/activity"_s, elsewhere.url(u"/api/devices/me/activity"_s));

        const Result<void> result = perform(DeviceAPIClient(service.url()), operation);

        QVERIFY(!result);
        QCOMPARE(result.error().domain, APIError::networkDomain);
        QCOMPARE(result.error().code, int(QNetworkReply::InsecureRedirectError));
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
        const Result<void> result = perform(DeviceAPIClient(server.url()), u"activity"_s, 10);
        QVERIFY(!result);
        QCOMPARE(result.error().domain, APIError::networkDomain);
        QCOMPARE(result.error().code, int(QNetworkReply::UnknownContentError));
    }

    void certificatesAreVerified_data()
    {
        QTest::addColumn<bool>("trusted");
        QTest::newRow("unknown certificate") << false;
        QTest::newRow("trusted certificate") << true;
    }

    // Even when something in the process turned verification off for everyone.
    void certificatesAreVerified()
    {
        QFETCH(bool, trusted);
        const QString certificate = QStringLiteral(TESTS_DATA_DIR "/api/untrusted-cert.pem");
        const QString key = QStringLiteral(TESTS_DATA_DIR "/api/untrusted-key.pem");
        ScriptedServer server(ScriptedServer::Tls{certificate, key});
        QVERIFY(server.port() != 0);
        answerEverywhere(server, 200, {});

        const QSslConfiguration original = QSslConfiguration::defaultConfiguration();
        const auto restore = qScopeGuard([&] { QSslConfiguration::setDefaultConfiguration(original); });
        QSslConfiguration changed = original;
        changed.setPeerVerifyMode(QSslSocket::VerifyNone);
        if (trusted)
            changed.setCaCertificates(QSslCertificate::fromPath(certificate));
        QSslConfiguration::setDefaultConfiguration(changed);

        QNetworkAccessManager session;
        const Result<void> result = perform(DeviceAPIClient(server.url(), &session), u"currentDevice"_s);
        QCOMPARE(result.has_value(), trusted);
        QCOMPARE(server.requests().size(), trusted ? 1 : 0);
        if (!trusted)
            QCOMPARE(result.error().code, int(QNetworkReply::SslHandshakeFailedError));
    }

    // The client may go before the request it started ends.
    void operationOutlivesItsClient()
    {
        ScriptedServer server;
        answerEverywhere(server, 200, {});
        QCoro::Task<Result<Device>> pending = DeviceAPIClient(server.url()).currentDevice(credential);
        QVERIFY(QCoro::waitFor(std::move(pending)).has_value());
    }
};

QTEST_GUILESS_MAIN(TestDeviceAPIClient)
#include "tst_deviceapiclient.moc"
