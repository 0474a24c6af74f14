// The client's whole pairing road against the local service, over real HTTP on loopback.

#include "LocalServiceProcess.h"

#include "api/APIError.h"
#include "api/DeviceAPIClient.h"
#include "credentials/DeviceCredentialParser.h"
#include "pairing/PairingSecurity.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>

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

    Answer send(const QByteArray &verb, const QString &path, const QByteArray &body = {})
    {
        QNetworkRequest request(m_service.baseUrl().resolved(QUrl(path)));
        request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
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
};

QTEST_GUILESS_MAIN(TestLocalService)
#include "tst_localservice.moc"
