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

#include <QCoroTask>

namespace {

const QString deviceName = QStringLiteral("Ana’s Desk & Co #2 + more");
const PairingRequest fixedRequest = {QStringLiteral("dBjftJeZ4CVP-mB92K27uhbUJU1p1r_wW1gFWFOEjXk"),
                                     QStringLiteral("E9Melhoa2OwvFrEMTJguCHaoeK1t8URWbuGJSstw-cM"),
                                     QStringLiteral("s7a7e")};

// Query items as "name=value" texts, in order; a value may hold any character, "=" included.
const QStringList validItems{QStringLiteral("deviceName=Ann’s MacBook Pro"),
                             QStringLiteral("platform=macos"),
                             QStringLiteral("architecture=arm64"),
                             QStringLiteral("appVersion=0.3.0"),
                             QStringLiteral("codeChallenge=") + fixedRequest.challenge,
                             QStringLiteral("state=") + fixedRequest.state,
                             QStringLiteral("clientBuild=10")};

QStringList without(QStringList items, const QString &name)
{
    items.removeIf([&](const QString &item) { return item.section(u'=', 0, 0) == name; });
    return items;
}

QStringList replacing(const QStringList &items, const QString &name, const QString &value)
{
    return without(items, name) << name + u'=' + value;
}

// The connection page's address as a client builds it: every value percent-encoded outside the unreserved set.
QString connectionUrl(const QStringList &items)
{
    QStringList encoded;
    for (const QString &item : items)
        encoded << item.section(u'=', 0, 0) + u'='
                       + QString::fromLatin1(QUrl::toPercentEncoding(item.section(u'=', 1)));
    return QStringLiteral("connect/mac/10?") + encoded.join(u'&');
}

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

    // One sign-in, from the connection page to the code the callback carries.
    QString codeOf(const PairingRequest &request, const std::optional<QUuid> &existingDeviceId = {})
    {
        const std::optional<QUrl> page = PairingSecurity::connectionURL(
            m_service.baseUrl(), request, deviceName, QStringLiteral("0.3.0"), QStringLiteral("10"), existingDeviceId);
        const QUrl callback = QUrl::fromEncoded(approve(page.value_or(QUrl())).constFirst().location);
        return PairingSecurity::validateCallback(callback, request.state).value_or(QString());
    }

private Q_SLOTS:
    void initTestCase() { QVERIFY2(m_service.start(), m_service.errors().constData()); }

    void connectionPageChecksItsQuery_data()
    {
        QTest::addColumn<QStringList>("items");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("message");
        const QString markup = QStringLiteral("<script>alert(1)</script> & \"Mac\" +=#");
        QTest::newRow("first connection") << validItems << 200 << QStringLiteral("Allow this Mac");
        QTest::newRow("device name escaped")
            << replacing(validItems, QStringLiteral("deviceName"), markup) << 200 << markup.toHtmlEscaped();
        for (const QString &name :
             {QStringLiteral("deviceName"), QStringLiteral("platform"), QStringLiteral("architecture"),
              QStringLiteral("appVersion"), QStringLiteral("codeChallenge"), QStringLiteral("state")}) {
            QTest::addRow("no %s", qPrintable(name))
                << without(validItems, name) << 400 << QStringLiteral("has no “") + name;
        }
        QTest::newRow("state twice") << (QStringList(validItems) << QStringLiteral("state=other")) << 400
                                     << QStringLiteral("“state” more than once");
        QTest::newRow("challenge of 42") << replacing(validItems, QStringLiteral("codeChallenge"),
                                                      fixedRequest.challenge.chopped(1))
                                         << 400 << QStringLiteral("SHA-256 challenge");
        QTest::newRow("device identifier not a UUID")
            << (QStringList(validItems) << QStringLiteral("existingDeviceId=mac-1")) << 400
            << QStringLiteral("“existingDeviceId”");
    }

    void connectionPageChecksItsQuery()
    {
        QFETCH(QStringList, items);
        QFETCH(int, status);
        QFETCH(QString, message);

        const Answer answer = send(QByteArrayLiteral("GET"), connectionUrl(items));
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
        const std::optional<QUrl> page = PairingSecurity::connectionURL(
            client.baseURL(), fixedRequest, deviceName, QStringLiteral("0.3.0"), QStringLiteral("10"), {});
        const QList<Answer> approvals = approve(page.value_or(QUrl()), 2);
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
        const Result<DeviceExchange> repaired =
            wait(client.exchange(codeOf(*request, exchange->device.id), request->verifier));
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
