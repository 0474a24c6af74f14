// The local service's contract with the setup application and the helper, over real HTTP on loopback, and
// the client's whole pairing road against it.

#include "LocalServiceProcess.h"

#include "api/APIError.h"
#include "api/DeviceAPIClient.h"
#include "credentials/DeviceCredentialParser.h"
#include "pairing/PairingSecurity.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>
#include <QUrlQuery>

#include <QCoroTask>

namespace {

const QString deviceName = QStringLiteral("Ana’s Desk & Co #2 + more");
const PairingRequest fixedRequest = {QStringLiteral("dBjftJeZ4CVP-mB92K27uhbUJU1p1r_wW1gFWFOEjXk"),
                                     QStringLiteral("E9Melhoa2OwvFrEMTJguCHaoeK1t8URWbuGJSstw-cM"),
                                     QStringLiteral("s7a7e")};

QString connectionIdIn(const QByteArray &html)
{
    static const QRegularExpression field(QStringLiteral("name=\"connection\" value=\"([A-Za-z0-9_-]+)\""));
    return field.match(QString::fromUtf8(html)).captured(1);
}

struct Answer
{
    int status = 0;
    QByteArray body;
    QByteArray location;

    QString error() const { return QJsonDocument::fromJson(body).object().value(QStringLiteral("error")).toString(); }
};

template<typename T>
T wait(QCoro::Task<T> task)
{
    return QCoro::waitFor(std::move(task));
}

} // namespace

class TestLocalService : public QObject
{
    Q_OBJECT

    QNetworkAccessManager m_network;
    LocalServiceProcess m_service;

    Answer send(const QByteArray &verb, const QString &path, const QByteArray &body = {},
                const QByteArray &authorization = {})
    {
        QNetworkRequest request(m_service.baseUrl().resolved(QUrl(path)));
        request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
        if (!authorization.isNull())
            request.setRawHeader(QByteArrayLiteral("Authorization"), authorization);
        std::unique_ptr<QNetworkReply> reply(m_network.sendCustomRequest(request, verb, body));
        QSignalSpy finished(reply.get(), &QNetworkReply::finished);
        if (!reply->isFinished() && !finished.wait(10000))
            return {};
        return Answer{reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), reply->readAll(),
                      reply->rawHeader(QByteArrayLiteral("Location"))};
    }

    // The browser's part of a sign-in: open the connection page and approve it, as often as asked.
    QList<Answer> approve(const QUrl &page, int times = 1)
    {
        const QString id = connectionIdIn(send(QByteArrayLiteral("GET"), page.toString(QUrl::FullyEncoded)).body);
        QList<Answer> answers;
        for (int i = 0; i < times; ++i)
            answers << send(QByteArrayLiteral("POST"), QStringLiteral("connect/approve"),
                            "connection=" + id.toLatin1());
        return answers;
    }

    std::optional<QUrl> pageFor(const PairingRequest &request, const std::optional<QUuid> &existingDeviceId = {})
    {
        return PairingSecurity::connectionURL(m_service.baseUrl(), request, deviceName, QStringLiteral("0.3.0"),
                                              QStringLiteral("10"), existingDeviceId);
    }

private Q_SLOTS:
    void initTestCase() { QVERIFY2(m_service.start(), m_service.errors().constData()); }

    // Rows: an item the client's own address loses, and one it gains at the end.
    void connectionPageChecksItsQuery_data()
    {
        QTest::addColumn<QString>("removed");
        QTest::addColumn<QString>("added"); // name=value
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("message");
        const QString markup = QStringLiteral("<script>alert(1)</script> & \"Mac\" +=#");
        QTest::newRow("first connection") << QString() << QString() << 200 << QStringLiteral("Allow this Mac");
        QTest::newRow("device name escaped")
            << QStringLiteral("deviceName") << QStringLiteral("deviceName=") + markup << 200 << markup.toHtmlEscaped();
        for (const char *name : {"deviceName", "platform", "architecture", "appVersion", "codeChallenge", "state"})
            QTest::addRow("no %s", name) << QString::fromLatin1(name) << QString() << 400
                                         << QStringLiteral("has no “") + QString::fromLatin1(name);
        QTest::newRow("state twice") << QString() << QStringLiteral("state=other") << 400
                                     << QStringLiteral("“state” more than once");
        QTest::newRow("challenge of 42") << QStringLiteral("codeChallenge")
                                         << QStringLiteral("codeChallenge=") + fixedRequest.challenge.chopped(1) << 400
                                         << QStringLiteral("SHA-256 challenge");
        QTest::newRow("device identifier not a UUID")
            << QString() << QStringLiteral("existingDeviceId=mac-1") << 400 << QStringLiteral("“existingDeviceId”");
    }

    void connectionPageChecksItsQuery()
    {
        QFETCH(QString, removed);
        QFETCH(QString, added);
        QFETCH(int, status);
        QFETCH(QString, message);
        QUrl page = pageFor(fixedRequest).value();
        QUrlQuery query(page);
        query.removeAllQueryItems(removed);
        if (!added.isEmpty())
            query.addQueryItem(added.section(u'=', 0, 0),
                               QString::fromLatin1(QUrl::toPercentEncoding(added.section(u'=', 1))));
        page.setQuery(query);

        const Answer answer = send(QByteArrayLiteral("GET"), page.toString(QUrl::FullyEncoded));
        QCOMPARE(answer.status, status);
        const QString text = QString::fromUtf8(answer.body);
        QVERIFY2(text.contains(message), qPrintable(text));
        QVERIFY(!text.contains(QStringLiteral("<script>")));
        QCOMPARE(connectionIdIn(answer.body).isEmpty(), status != 200);
    }

    // A connection is approved once, and its code goes only with the verifier of its challenge, only once.
    // Signing in again as the same device keeps it, under a new credential; a credential given up is refused,
    // and giving it up again is no error.
    void pairsReconnectsAndDisconnects()
    {
        const DeviceAPIClient client(m_service.baseUrl());
        const QList<Answer> approvals = approve(pageFor(fixedRequest).value(), 2);
        QCOMPARE(approvals.constLast().status, 404);
        const auto code =
            PairingSecurity::validateCallback(QUrl::fromEncoded(approvals.constFirst().location), fixedRequest.state);
        QVERIFY(code);
        const Result<DeviceExchange> wrong = wait(client.exchange(*code, QString(43, u'x')));
        QVERIFY(!wrong && wrong.error().description.contains(QStringLiteral("verifier does not match")));
        const Result<DeviceExchange> exchange = wait(client.exchange(*code, fixedRequest.verifier));
        QVERIFY(exchange);
        const Result<DeviceExchange> again = wait(client.exchange(*code, fixedRequest.verifier));
        QCOMPARE(again ? QString() : again.error().description,
                 QStringLiteral("The connection code was already used."));
        QCOMPARE(DeviceCredentialParser::deviceId(exchange->credential), exchange->device.id);
        QCOMPARE(exchange->device.name, deviceName);
        QCOMPARE(wait(client.currentDevice(exchange->credential)).value().id, exchange->device.id);
        QCOMPARE(wait(client.activity(exchange->credential, 5)).value().recent.size(), 5);

        const Result<PairingRequest> request = PairingSecurity::makeRequest();
        const QUrl callback =
            QUrl::fromEncoded(approve(pageFor(*request, exchange->device.id).value()).constFirst().location);
        const Result<DeviceExchange> repaired = wait(
            client.exchange(PairingSecurity::validateCallback(callback, request->state).value(), request->verifier));
        QCOMPARE(repaired.value().device.id, exchange->device.id);
        QVERIFY(repaired->credential != exchange->credential);

        QVERIFY(wait(client.disconnect(repaired->credential)));
        const Result<Device> afterwards = wait(client.currentDevice(repaired->credential));
        QVERIFY(!afterwards && APIError::isUnauthorized(afterwards.error()));
        QVERIFY(wait(client.disconnect(repaired->credential)));
    }

    void bearerRoutesRefuseUnknownCredentials()
    {
        const QByteArray unknown = "twk_device_0F8FAD5B-D9CB-469F-A165-70867728950E." + QByteArray(43, 'x');
        for (const QByteArray &authorization : {QByteArray(), QByteArrayLiteral("Bearer ") + unknown, unknown}) {
            for (const auto &[verb, path] :
                 {std::pair(QByteArrayLiteral("GET"), QStringLiteral("api/devices/me")),
                  std::pair(QByteArrayLiteral("DELETE"), QStringLiteral("api/devices/me")),
                  std::pair(QByteArrayLiteral("GET"), QStringLiteral("api/devices/me/activity"))}) {
                const Answer answer = send(verb, path, {}, authorization);
                QCOMPARE(answer.status, 401);
                QVERIFY2(!answer.error().isEmpty(), answer.body.constData());
            }
        }
    }
};

QTEST_GUILESS_MAIN(TestLocalService)
#include "tst_localservice.moc"
