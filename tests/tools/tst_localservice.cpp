#include "LocalServiceProcess.h"

#include <QCryptographicHash>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>
#include <QUrlQuery>

#include <memory>

namespace {

const QString rfcVerifier = QStringLiteral("dBjftJeZ4CVP-mB92K27uhbUJU1p1r_wW1gFWFOEjXk");

QString challengeFor(const QString &verifier)
{
    const QByteArray hash = QCryptographicHash::hash(verifier.toUtf8(), QCryptographicHash::Sha256);
    return QString::fromLatin1(hash.toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals));
}

// Query items as "name=value" texts, in order; a value may hold any character, "=" included.
const QStringList validItems{QStringLiteral("deviceName=Ann’s MacBook Pro"),
                             QStringLiteral("platform=macos"),
                             QStringLiteral("architecture=arm64"),
                             QStringLiteral("appVersion=0.3.0"),
                             QStringLiteral("codeChallenge=") + challengeFor(rfcVerifier),
                             QStringLiteral("state=s7a7e"),
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
    QByteArray authenticate;

    QString error() const { return QJsonDocument::fromJson(body).object().value(QStringLiteral("error")).toString(); }
};

} // namespace

// The local service's contract with the setup application and the helper, over real HTTP on loopback.
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
                      reply->rawHeader(QByteArrayLiteral("Location")),
                      reply->rawHeader(QByteArrayLiteral("WWW-Authenticate"))};
    }

    Answer exchange(const QString &code, const QString &verifier)
    {
        const QJsonObject body{{QStringLiteral("code"), code}, {QStringLiteral("verifier"), verifier}};
        return send(QByteArrayLiteral("POST"), QStringLiteral("api/devices/exchange"), QJsonDocument(body).toJson());
    }

private Q_SLOTS:
    void initTestCase() { QVERIFY2(m_service.start(), m_service.errors().constData()); }

    void connectionPageChecksItsQuery_data()
    {
        QTest::addColumn<QStringList>("items");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("message");

        const QStringList &valid = validItems;
        const QString markup = QStringLiteral("<script>alert(1)</script> & \"Mac\" +=#");
        QTest::newRow("first connection") << valid << 200 << QStringLiteral("Allow this Mac");
        QTest::newRow("device name escaped")
            << replacing(valid, QStringLiteral("deviceName"), markup) << 200 << markup.toHtmlEscaped();
        for (const QString &name :
             {QStringLiteral("deviceName"), QStringLiteral("platform"), QStringLiteral("architecture"),
              QStringLiteral("appVersion"), QStringLiteral("codeChallenge"), QStringLiteral("state")}) {
            QTest::addRow("no %s", qPrintable(name))
                << without(valid, name) << 400 << QStringLiteral("has no “") + name;
        }
        const QString challenge = challengeFor(rfcVerifier);
        QTest::newRow("state twice") << (QStringList(valid) << QStringLiteral("state=other")) << 400
                                     << QStringLiteral("“state” more than once");
        QTest::newRow("challenge of 42") << replacing(valid, QStringLiteral("codeChallenge"), challenge.chopped(1))
                                         << 400 << QStringLiteral("SHA-256 challenge");
        QTest::newRow("device identifier not a UUID")
            << (QStringList(valid) << QStringLiteral("existingDeviceId=mac-1")) << 400
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

    // A connection is approved once; its code goes only with the verifier of its challenge, and only once.
    void exchangeChecksTheVerifierAndTakesTheCodeOnce()
    {
        const QByteArray page = send(QByteArrayLiteral("GET"), connectionUrl(validItems)).body;
        const QByteArray form = QByteArrayLiteral("connection=") + connectionIdIn(page).toLatin1();
        const QUrl callback =
            QUrl::fromEncoded(send(QByteArrayLiteral("POST"), QStringLiteral("connect/approve"), form).location);
        const QString code = QUrlQuery(callback).queryItemValue(QStringLiteral("code"));
        QCOMPARE(send(QByteArrayLiteral("POST"), QStringLiteral("connect/approve"), form).status, 404);
        const Answer wrong = exchange(code, QString(43, u'x'));
        QCOMPARE(wrong.status, 400);
        QVERIFY2(wrong.error().contains(QStringLiteral("verifier does not match")), wrong.body.constData());

        QCOMPARE(exchange(code, rfcVerifier).status, 200);
        const Answer again = exchange(code, rfcVerifier);
        QCOMPARE(again.status, 400);
        QCOMPARE(again.error(), QStringLiteral("The connection code was already used."));
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
                QCOMPARE(answer.authenticate, QByteArrayLiteral("Bearer realm=\"Tarnwick\""));
                QVERIFY2(!answer.error().isEmpty(), answer.body.constData());
            }
        }
    }
};

QTEST_GUILESS_MAIN(TestLocalService)
#include "tst_localservice.moc"
