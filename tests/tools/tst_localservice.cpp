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

using namespace Qt::StringLiterals;

namespace {

const QString rfcVerifier = u"dBjftJeZ4CVP-mB92K27uhbUJU1p1r_wW1gFWFOEjXk"_s;

QString challengeFor(const QString &verifier)
{
    const QByteArray hash = QCryptographicHash::hash(verifier.toUtf8(), QCryptographicHash::Sha256);
    return QString::fromLatin1(hash.toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals));
}

// Query items as "name=value" texts, in order; a value may hold any character, "=" included.
const QStringList validItems{u"deviceName=Ann’s MacBook Pro"_s,
                             u"platform=macos"_s,
                             u"architecture=arm64"_s,
                             u"appVersion=0.3.0"_s,
                             u"codeChallenge="_s + challengeFor(rfcVerifier),
                             u"state=s7a7e"_s,
                             u"clientBuild=10"_s};

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
    return u"connect/mac/10?"_s + encoded.join(u'&');
}

QString connectionIdIn(const QByteArray &html)
{
    static const QRegularExpression field(u"name=\"connection\" value=\"([A-Za-z0-9_-]+)\""_s);
    return field.match(QString::fromUtf8(html)).captured(1);
}

struct Answer
{
    int status = 0;
    QByteArray body;
    QByteArray location;
    QByteArray authenticate;

    QString error() const { return QJsonDocument::fromJson(body).object().value(u"error"_s).toString(); }
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
            request.setRawHeader("Authorization"_ba, authorization);
        std::unique_ptr<QNetworkReply> reply(m_network.sendCustomRequest(request, verb, body));
        QSignalSpy finished(reply.get(), &QNetworkReply::finished);
        if (!reply->isFinished() && !finished.wait(10000))
            return {};
        return Answer{reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), reply->readAll(),
                      reply->rawHeader("Location"_ba), reply->rawHeader("WWW-Authenticate"_ba)};
    }

    Answer exchange(const QString &code, const QString &verifier)
    {
        const QJsonObject body{{u"code"_s, code}, {u"verifier"_s, verifier}};
        return send("POST"_ba, u"api/devices/exchange"_s, QJsonDocument(body).toJson());
    }

private Q_SLOTS:
    void initTestCase() { QVERIFY2(m_service.start(), m_service.errors().constData()); }

    void connectionPageChecksItsQuery_data()
    {
        QTest::addColumn<QStringList>("items");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("message");

        const QStringList &valid = validItems;
        const QString markup = u"<script>alert(1)</script> & \"Mac\" +=#"_s;
        QTest::newRow("first connection") << valid << 200 << u"Allow this Mac"_s;
        QTest::newRow("device name escaped")
            << replacing(valid, u"deviceName"_s, markup) << 200 << markup.toHtmlEscaped();
        for (const QString &name :
             {u"deviceName"_s, u"platform"_s, u"architecture"_s, u"appVersion"_s, u"codeChallenge"_s, u"state"_s}) {
            QTest::addRow("no %s", qPrintable(name)) << without(valid, name) << 400 << u"has no “"_s + name;
        }
        const QString challenge = challengeFor(rfcVerifier);
        QTest::newRow("state twice") << (QStringList(valid) << u"state=other"_s) << 400 << u"“state” more than once"_s;
        QTest::newRow("challenge of 42") << replacing(valid, u"codeChallenge"_s, challenge.chopped(1)) << 400
                                         << u"SHA-256 challenge"_s;
        QTest::newRow("device identifier not a UUID")
            << (QStringList(valid) << u"existingDeviceId=mac-1"_s) << 400 << u"“existingDeviceId”"_s;
    }

    void connectionPageChecksItsQuery()
    {
        QFETCH(QStringList, items);
        QFETCH(int, status);
        QFETCH(QString, message);

        const Answer answer = send("GET"_ba, connectionUrl(items));
        QCOMPARE(answer.status, status);
        const QString text = QString::fromUtf8(answer.body);
        QVERIFY2(text.contains(message), qPrintable(text));
        QVERIFY(!text.contains(u"<script>"_s));
        QCOMPARE(connectionIdIn(answer.body).isEmpty(), status != 200);
    }

    // A connection is approved once; its code goes only with the verifier of its challenge, and only once.
    void exchangeChecksTheVerifierAndTakesTheCodeOnce()
    {
        const QByteArray page = send("GET"_ba, connectionUrl(validItems)).body;
        const QByteArray form = "connection="_ba + connectionIdIn(page).toLatin1();
        const QUrl callback = QUrl::fromEncoded(send("POST"_ba, u"connect/approve"_s, form).location);
        const QString code = QUrlQuery(callback).queryItemValue(u"code"_s);
        QCOMPARE(send("POST"_ba, u"connect/approve"_s, form).status, 404);
        const Answer wrong = exchange(code, QString(43, u'x'));
        QCOMPARE(wrong.status, 400);
        QVERIFY2(wrong.error().contains(u"verifier does not match"_s), wrong.body.constData());

        QCOMPARE(exchange(code, rfcVerifier).status, 200);
        const Answer again = exchange(code, rfcVerifier);
        QCOMPARE(again.status, 400);
        QCOMPARE(again.error(), u"The connection code was already used."_s);
    }

    void bearerRoutesRefuseUnknownCredentials()
    {
        const QByteArray unknown = "twk_device_0F8FAD5B-D9CB-469F-A165-70867728950E." + QByteArray(43, 'x');
        for (const QByteArray &authorization : {QByteArray(), "Bearer "_ba + unknown, unknown}) {
            for (const auto &[verb, path] :
                 {std::pair("GET"_ba, u"api/devices/me"_s), std::pair("DELETE"_ba, u"api/devices/me"_s),
                  std::pair("GET"_ba, u"api/devices/me/activity"_s)}) {
                const Answer answer = send(verb, path, {}, authorization);
                QCOMPARE(answer.status, 401);
                QCOMPARE(answer.authenticate, "Bearer realm=\"Tarnwick\""_ba);
                QVERIFY2(!answer.error().isEmpty(), answer.body.constData());
            }
        }
    }
};

QTEST_GUILESS_MAIN(TestLocalService)
#include "tst_localservice.moc"
