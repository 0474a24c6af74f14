// The client against scripted loopback servers: what it sends, and what it makes of what comes back.

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

namespace {

const QString credential = QStringLiteral("twk_device_6F1C2A3B-4D5E-4F60-8A9B-0C1D2E3F4A5B.abc-def_ghi.jkl");
const QByteArray device = R"({"id":"6f1c2a3b-4d5e-4f60-8a9b-0c1d2e3f4a5b","name":"Desk","platform":"macos",)"
                          R"("architecture":"arm64","appVersion":"0.3.0","online":true})";
const QByteArray deviceBody = R"({"device":)" + device + "}";
const QByteArray exchangeBody = R"({"credential":"twk_device_x","device":)" + device + "}";
const QByteArray activityBody = R"({"running":null,"recent":[]})";

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
        return outcome(client.exchange(QStringLiteral("the-code"), QStringLiteral("the-verifier")));
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
    server.answer(base + QStringLiteral("/api/devices/exchange"), status, body.isNull() ? exchangeBody : body,
                  contentType);
    server.answer(base + QStringLiteral("/api/devices/me"), status, body.isNull() ? deviceBody : body, contentType);
    server.answer(base + QStringLiteral("/api/devices/me/activity"), status, body.isNull() ? activityBody : body,
                  contentType);
}

} // namespace

class TestDeviceAPIClient : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void exactRequests_data()
    {
        QTest::addColumn<QString>("operation");
        QTest::addColumn<QByteArray>("method");
        QTest::addColumn<QString>("path");
        QTest::newRow("exchange") << QStringLiteral("exchange") << QByteArray("POST") << QStringLiteral("exchange");
        QTest::newRow("currentDevice") << QStringLiteral("currentDevice") << QByteArray("GET") << QStringLiteral("me");
        QTest::newRow("disconnect") << QStringLiteral("disconnect") << QByteArray("DELETE") << QStringLiteral("me");
        QTest::newRow("activity") << QStringLiteral("activity") << QByteArray("GET") << QStringLiteral("me/activity");
    }

    void exactRequests()
    {
        QFETCH(QString, operation);
        QFETCH(QByteArray, method);
        QFETCH(QString, path);
        ScriptedServer server;
        answerEverywhere(server, 200, {}, "application/json", QStringLiteral("/svc"));

        QVERIFY(perform(DeviceAPIClient(server.url(QStringLiteral("/svc"))), operation));

        QCOMPARE(server.requests().size(), 1);
        const ScriptedServer::Request request = server.requests().constFirst();
        QCOMPARE(request.method, method);
        QCOMPARE(request.path, QStringLiteral("/svc/api/devices/") + path);
        QVERIFY(request.header("Accept").isNull());
        QVERIFY(request.header("Cookie").isNull());
        if (operation == u"exchange") {
            QVERIFY(request.header("Authorization").isNull());
            QCOMPARE(request.header("Content-Type"), QByteArray("application/json"));
            QCOMPARE(QJsonDocument::fromJson(request.body).object(),
                     (QJsonObject{{QStringLiteral("code"), QStringLiteral("the-code")},
                                  {QStringLiteral("verifier"), QStringLiteral("the-verifier")}}));
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
        const QString fallback = QStringLiteral("The server rejected the request.");
        const QByteArray json = "application/json";
        QTest::newRow("400 with a message") << 400 << QByteArray(R"({"error":"The code has expired."})") << json
                                            << QStringLiteral("The code has expired.");
        QTest::newRow("500 with HTML") << 500 << QByteArray("<html><body>Oops</body></html>") << QByteArray("text/html")
                                       << fallback;
        QTest::newRow("error an object") << 400 << QByteArray(R"({"error":{"message":"no"}})") << json << fallback;
        // Qt names these as proxy or content failures; they are answers like any other.
        QTest::newRow("407") << 407 << QByteArray(R"({"error":"Sign in to the proxy."})") << json
                             << QStringLiteral("Sign in to the proxy.");
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
        for (const QString &operation :
             {QStringLiteral("exchange"), QStringLiteral("currentDevice"), QStringLiteral("activity")}) {
            const Result<void> result = perform(client, operation);
            QVERIFY2(!result, qPrintable(operation));
            QCOMPARE(result.error(), (Error{APIError::domain, status, description}));
        }
    }

    // Giving up a credential the service no longer knows is a success; other refusals are not.
    void disconnectStatuses()
    {
        const std::pair<int, bool> cases[] = {{204, true}, {401, true}, {403, false}};
        for (const auto &[status, succeeds] : cases) {
            ScriptedServer server;
            server.answer(QStringLiteral("/api/devices/me"), status, R"({"error":"ignored"})");
            const Result<void> result = perform(DeviceAPIClient(server.url()), QStringLiteral("disconnect"));
            QVERIFY2(result.has_value() == succeeds, qPrintable(QString::number(status)));
            if (!succeeds)
                QCOMPARE(result.error(), APIError::badServerResponse());
        }
    }

    void silentServerTimesOutAtTheCallersTimeout()
    {
        ScriptedServer server;
        server.hang(QStringLiteral("/api/devices/me/activity"));
        QElapsedTimer elapsed;
        elapsed.start();
        const Result<void> result = perform(DeviceAPIClient(server.url()), QStringLiteral("activity"), 0.3);
        QVERIFY(!result);
        QCOMPARE(result.error(), (Error{APIError::networkDomain, int(QNetworkReply::TimeoutError),
                                        QStringLiteral("The request timed out.")}));
        QVERIFY(elapsed.elapsed() >= 250);
        QVERIFY(elapsed.elapsed() < 20000);
    }

    // The credential must never reach another origin.
    void redirectToAnotherOriginIsRefused()
    {
        ScriptedServer service;
        ScriptedServer elsewhere;
        answerEverywhere(elsewhere, 200, {});
        for (const QString &path : {QStringLiteral("/api/devices/me"), QStringLiteral("/api/devices/me/activity")})
            service.redirect(path, elsewhere.url(path));
        for (const QString &operation :
             {QStringLiteral("currentDevice"), QStringLiteral("disconnect"), QStringLiteral("activity")}) {
            const Result<void> result = perform(DeviceAPIClient(service.url()), operation);
            QVERIFY2(!result, qPrintable(operation));
            QCOMPARE(result.error().domain, APIError::networkDomain);
            QCOMPARE(result.error().code, int(QNetworkReply::InsecureRedirectError));
        }
        QCOMPARE(service.requests().size(), 3);
        QVERIFY(elsewhere.requests().isEmpty());
    }

    // Announced, or one byte over and ended only by closing the connection.
    void oversizedAnswerIsRefused()
    {
        const std::pair<qint64, bool> cases[] = {{3 * 1024 * 1024, true},
                                                 {DeviceAPIClient::maximumAnswerSize + 1, false}};
        for (const auto &[size, announceLength] : cases) {
            ScriptedServer server;
            server.stream(QStringLiteral("/api/devices/me/activity"), size, announceLength);
            const Result<void> result = perform(DeviceAPIClient(server.url()), QStringLiteral("activity"), 10);
            QVERIFY(!result);
            QCOMPARE(result.error().domain, APIError::networkDomain);
            QCOMPARE(result.error().code, int(QNetworkReply::UnknownContentError));
        }
    }

    // Even when something in the process turned verification off for everyone.
    void certificatesAreVerified()
    {
        const QString certificate = QStringLiteral(TESTS_DATA_DIR "/api/untrusted-cert.pem");
        ScriptedServer server(certificate, QStringLiteral(TESTS_DATA_DIR "/api/untrusted-key.pem"));
        QVERIFY(server.port() != 0);
        answerEverywhere(server, 200, {});
        const QSslConfiguration original = QSslConfiguration::defaultConfiguration();
        const auto restore = qScopeGuard([&] { QSslConfiguration::setDefaultConfiguration(original); });
        for (const bool trusted : {false, true}) {
            QSslConfiguration changed = original;
            changed.setPeerVerifyMode(QSslSocket::VerifyNone);
            if (trusted)
                changed.setCaCertificates(QSslCertificate::fromPath(certificate));
            QSslConfiguration::setDefaultConfiguration(changed);

            QNetworkAccessManager session;
            const Result<void> result =
                perform(DeviceAPIClient(server.url(), &session), QStringLiteral("currentDevice"));
            QCOMPARE(result.has_value(), trusted);
            QCOMPARE(server.requests().size(), trusted ? 1 : 0);
            if (!trusted)
                QCOMPARE(result.error().code, int(QNetworkReply::SslHandshakeFailedError));
        }
    }
};

QTEST_GUILESS_MAIN(TestDeviceAPIClient)
#include "tst_deviceapiclient.moc"
