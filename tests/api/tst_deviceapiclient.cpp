// The client against scripted loopback servers: what it sends, and what it makes of what comes back.

#include "ScriptedServer.h"

#include "api/APIError.h"
#include "api/DeviceAPIClient.h"

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
const QString activityPath = QStringLiteral("/api/devices/me/activity");

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
    server.answer(base + activityPath, status, body.isNull() ? activityBody : body, contentType);
}

// What a test scripts on the service; `elsewhere` is a server of another origin.
using Script = std::function<void(ScriptedServer &service, const ScriptedServer &elsewhere)>;

} // namespace

Q_DECLARE_METATYPE(Script)

class TestDeviceAPIClient : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // Each operation sends what it needs and nothing more: no cookie, no Accept, the credential only where
    // it is due.
    void exactRequests_data()
    {
        QTest::addColumn<QString>("operation");
        QTest::addColumn<QByteArray>("request"); // method and path below the service's base path
        QTest::newRow("exchange") << QStringLiteral("exchange") << QByteArray("POST exchange");
        QTest::newRow("currentDevice") << QStringLiteral("currentDevice") << QByteArray("GET me");
        QTest::newRow("disconnect") << QStringLiteral("disconnect") << QByteArray("DELETE me");
        QTest::newRow("activity") << QStringLiteral("activity") << QByteArray("GET me/activity");
    }

    void exactRequests()
    {
        QFETCH(QString, operation);
        QFETCH(QByteArray, request);
        ScriptedServer server;
        answerEverywhere(server, 200, {}, "application/json", QStringLiteral("/svc"));

        QVERIFY(perform(DeviceAPIClient(server.url(QStringLiteral("/svc"))), operation));

        QCOMPARE(server.requests().size(), 1);
        const ScriptedServer::Request sent = server.requests().constFirst();
        const bool exchange = operation == u"exchange";
        QCOMPARE(sent.method + ' ' + sent.path.toUtf8(), request.replace(' ', " /svc/api/devices/"));
        QCOMPARE(sent.header("Accept") + sent.header("Cookie"), QByteArray());
        QCOMPARE(sent.header("Authorization"), exchange ? QByteArray() : "Bearer " + credential.toUtf8());
        QCOMPARE(sent.header("Content-Type"), exchange ? QByteArray("application/json") : QByteArray());
        QCOMPARE(sent.body, exchange ? QByteArray(R"({"code":"the-code","verifier":"the-verifier"})") : QByteArray());
    }

    // What each operation makes of a failure, in the service's own words when it gives them. Giving up a
    // credential the service no longer knows is a success. The credential never reaches another origin, and
    // an answer too large is refused, announced or one byte over and ended only by closing the connection.
    void failures_data()
    {
        QTest::addColumn<QString>("operation");
        QTest::addColumn<Script>("script");
        QTest::addColumn<Result<void>>("outcome");
        // Every operation but disconnect reads a refusal the same way.
        const auto refused = [](const char *operation, int status, const QByteArray &body,
                                const QByteArray &contentType, const QString &description) {
            QTest::addRow("%s, %d %s", operation, status, contentType.constData())
                << QString::fromLatin1(operation) << Script([=](ScriptedServer &server, const ScriptedServer &) {
                       answerEverywhere(server, status, body, contentType);
                   })
                << Result<void>(failure(Error{APIError::domain, status, description}));
        };
        const QString fallback = QStringLiteral("The server rejected the request.");
        refused("exchange", 400, R"({"error":"The code has expired."})", "application/json",
                QStringLiteral("The code has expired."));
        refused("currentDevice", 500, "<html><body>Oops</body></html>", "text/html", fallback);
        refused("activity", 400, R"({"error":{"message":"no"}})", "application/json", fallback);
        // Qt names these as proxy or content failures; they are answers like any other.
        refused("currentDevice", 407, R"({"error":"Sign in to the proxy."})", "application/json",
                QStringLiteral("Sign in to the proxy."));
        refused("exchange", 300, "", "", fallback);

        for (const int status : {204, 401, 403})
            QTest::addRow("disconnect, %d", status)
                << QStringLiteral("disconnect") << Script([status](ScriptedServer &server, const ScriptedServer &) {
                       server.answer(QStringLiteral("/api/devices/me"), status, R"({"error":"ignored"})");
                   })
                << (status == 403 ? Result<void>(failure(APIError::badServerResponse())) : Result<void>());

        const auto network = [](QNetworkReply::NetworkError code, const QString &description) {
            return Result<void>(failure(Error{APIError::networkDomain, int(code), description}));
        };
        for (const char *operation : {"currentDevice", "disconnect", "activity"})
            QTest::addRow("redirected elsewhere, %s", operation)
                << QString::fromLatin1(operation)
                << Script([](ScriptedServer &server, const ScriptedServer &elsewhere) {
                       for (const QString &path : {QStringLiteral("/api/devices/me"), activityPath})
                           server.redirect(path, elsewhere.url(path));
                   })
                << network(QNetworkReply::InsecureRedirectError,
                           QStringLiteral("The server redirected the request to another site."));
        for (const bool announced : {true, false})
            QTest::addRow("too large, %s", announced ? "announced" : "one byte over until closed") << QStringLiteral(
                "activity") << Script([announced](ScriptedServer &server, const ScriptedServer &) {
                server.stream(activityPath, DeviceAPIClient::maximumAnswerSize + (announced ? 1 << 20 : 1), announced);
            }) << network(QNetworkReply::UnknownContentError, QStringLiteral("The server’s answer is too large."));
    }

    void failures()
    {
        QFETCH(QString, operation);
        QFETCH(Script, script);
        QFETCH(Result<void>, outcome);
        ScriptedServer service;
        ScriptedServer elsewhere;
        answerEverywhere(elsewhere, 200, {});
        script(service, elsewhere);

        QCOMPARE(perform(DeviceAPIClient(service.url()), operation, 10), outcome);
        QCOMPARE(service.requests().size(), 1);
        QVERIFY(elsewhere.requests().isEmpty());
    }

    void silentServerTimesOutAtTheCallersTimeout()
    {
        ScriptedServer server;
        server.hang(activityPath);
        QElapsedTimer elapsed;
        elapsed.start();
        const Result<void> result = perform(DeviceAPIClient(server.url()), QStringLiteral("activity"), 0.3);
        QCOMPARE(result, Result<void>(failure(Error{APIError::networkDomain, int(QNetworkReply::TimeoutError),
                                                    QStringLiteral("The request timed out.")})));
        QVERIFY(elapsed.elapsed() >= 250);
        QVERIFY(elapsed.elapsed() < 20000);
    }

    // Even when something in the process turned verification off for everyone.
    void certificatesAreVerified()
    {
        const QString certificate = QStringLiteral(TESTS_DATA_DIR "/api/untrusted-cert.pem");
        ScriptedServer server(certificate, QStringLiteral(TESTS_DATA_DIR "/api/untrusted-key.pem"));
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
