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
#include <QUuid>

#include <memory>

using namespace Qt::StringLiterals;

namespace {

const QString rfcVerifier = u"dBjftJeZ4CVP-mB92K27uhbUJU1p1r_wW1gFWFOEjXk"_s;
const QString page = u"connect/mac/10"_s;
const QRegularExpression codeForm(u"^[A-Za-z0-9_-]{43}$"_s);

QString base64Url(const QByteArray &bytes)
{
    return QString::fromLatin1(bytes.toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals));
}

QString challengeFor(const QString &verifier)
{
    return base64Url(QCryptographicHash::hash(verifier.toUtf8(), QCryptographicHash::Sha256));
}

// 32 random bytes, as a client makes them.
QString freshVerifier()
{
    return base64Url(QUuid::createUuid().toRfc4122() + QUuid::createUuid().toRfc4122());
}

// Query items as "name=value" texts, in order; a value may hold any character, "=" included.
QStringList connectionItems(const QString &verifier)
{
    return {u"deviceName=Ann’s MacBook Pro"_s, u"platform=macos"_s, u"architecture=arm64"_s, u"appVersion=0.3.0"_s,
            u"codeChallenge="_s + challengeFor(verifier), u"state=s7a7e"_s, u"clientBuild=10"_s};
}

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
QString connectionUrl(const QString &path, const QStringList &items)
{
    QStringList encoded;
    for (const QString &item : items)
        encoded << item.section(u'=', 0, 0) + u'='
                       + QString::fromLatin1(QUrl::toPercentEncoding(item.section(u'=', 1)));
    return path + u'?' + encoded.join(u'&');
}

QString connectionIdIn(const QByteArray &html)
{
    static const QRegularExpression field(u"name=\"connection\" value=\"([A-Za-z0-9_-]+)\""_s);
    return field.match(QString::fromUtf8(html)).captured(1);
}

QString callbackItem(const QByteArray &location, const QString &name)
{
    return QUrlQuery(QUrl::fromEncoded(location, QUrl::StrictMode)).queryItemValue(name, QUrl::FullyDecoded);
}

struct Answer
{
    int status = 0;
    QByteArray body;
    QByteArray location;
    QByteArray authenticate;

    QJsonObject json() const { return QJsonDocument::fromJson(body).object(); }
    QString error() const { return json().value(u"error"_s).toString(); }
};

} // namespace

// The local service's contract with the setup application and the helper, over real HTTP on loopback.
class tst_LocalService : public QObject
{
    Q_OBJECT

    QNetworkAccessManager m_network;
    LocalServiceProcess m_service;
    QUrl m_base;

    Answer send(const QByteArray &verb, const QString &path, const QByteArray &body = {},
                const QByteArray &authorization = {})
    {
        QNetworkRequest request(m_base.resolved(QUrl(path)));
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

    // Opens the connection page; answers the form its button sends.
    QByteArray approvalForm(const QStringList &items)
    {
        return "connection="_ba + connectionIdIn(send("GET"_ba, connectionUrl(page, items)).body).toLatin1();
    }

    QString approvedCode(const QString &verifier)
    {
        const Answer approval = send("POST"_ba, u"connect/approve"_s, approvalForm(connectionItems(verifier)));
        return callbackItem(approval.location, u"code"_s);
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY2(m_service.start(), m_service.errors().constData());
        m_base = m_service.baseUrl();
    }

    void connectionPageChecksItsQuery_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QStringList>("items");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("message");

        const QStringList valid = connectionItems(rfcVerifier);
        const QString markup = u"<script>alert(1)</script> & \"Mac\" +=#"_s;
        QTest::newRow("first connection") << page << valid << 200 << u"Allow this Mac"_s;
        QTest::newRow("without build") << u"connect/mac"_s << without(valid, u"clientBuild"_s) << 200
                                       << u"Allow this Mac"_s;
        QTest::newRow("reconnection, lower-case identifier")
            << page << (QStringList(valid) << u"existingDeviceId=0f8fad5b-d9cb-469f-a165-70867728950e"_s) << 200
            << u"0F8FAD5B-D9CB-469F-A165-70867728950E"_s;
        QTest::newRow("device name escaped") << page << replacing(valid, u"deviceName"_s, markup) << 200
                                             << markup.toHtmlEscaped();
        for (const QString &name : {u"deviceName"_s, u"platform"_s, u"architecture"_s, u"appVersion"_s,
                                    u"codeChallenge"_s, u"state"_s}) {
            const QString refusal = u"has no “"_s + name;
            QTest::addRow("no %s", qPrintable(name)) << page << without(valid, name) << 400 << refusal;
            QTest::addRow("empty %s", qPrintable(name)) << page << replacing(valid, name, {}) << 400 << refusal;
        }
        const QString challenge = challengeFor(rfcVerifier);
        QTest::newRow("state twice") << page << (QStringList(valid) << u"state=other"_s) << 400
                                     << u"“state” more than once"_s;
        QTest::newRow("challenge of 42") << page << replacing(valid, u"codeChallenge"_s, challenge.chopped(1)) << 400
                                         << u"SHA-256 challenge"_s;
        QTest::newRow("challenge in base64") << page << replacing(valid, u"codeChallenge"_s, u"+/"_s + challenge.mid(2))
                                             << 400 << u"SHA-256 challenge"_s;
        QTest::newRow("builds differ") << u"connect/mac/11"_s << valid << 400 << u"does not match"_s;
        QTest::newRow("device identifier not a UUID")
            << page << (QStringList(valid) << u"existingDeviceId=mac-1"_s) << 400 << u"“existingDeviceId”"_s;
        QTest::newRow("device name too long") << page << replacing(valid, u"deviceName"_s, QString(300, u'M')) << 400
                                              << u"too long"_s;
    }

    void connectionPageChecksItsQuery()
    {
        QFETCH(QString, path);
        QFETCH(QStringList, items);
        QFETCH(int, status);
        QFETCH(QString, message);

        const Answer answer = send("GET"_ba, connectionUrl(path, items));
        QCOMPARE(answer.status, status);
        const QString text = QString::fromUtf8(answer.body);
        QVERIFY2(text.contains(message), qPrintable(text));
        QVERIFY(!text.contains(u"<script>"_s));
        QCOMPARE(connectionIdIn(answer.body).isEmpty(), status != 200);
    }

    void approvalRedirectsToTheCallbackOnce()
    {
        const QString state = u"a+b&c=d #é/%20"_s;
        const QByteArray form = approvalForm(replacing(connectionItems(rfcVerifier), u"state"_s, state));

        const Answer approval = send("POST"_ba, u"connect/approve"_s, form);
        QCOMPARE(approval.status, 302);
        const QUrl callback = QUrl::fromEncoded(approval.location, QUrl::StrictMode);
        QCOMPARE(callback.adjusted(QUrl::RemoveQuery), QUrl(u"tarnwick://auth/callback"_s));
        QCOMPARE(QUrlQuery(callback).queryItems().size(), 2);
        QCOMPARE(callbackItem(approval.location, u"state"_s), state);
        QVERIFY(codeForm.match(callbackItem(approval.location, u"code"_s)).hasMatch());

        QCOMPARE(send("POST"_ba, u"connect/approve"_s, form).status, 404);
        QCOMPARE(send("POST"_ba, u"connect/approve"_s, "connection=unknown"_ba).status, 404);
    }

    // The code goes only with the verifier of its challenge, and only once.
    void exchangeChecksTheVerifierAndTakesTheCodeOnce()
    {
        const QString verifier = freshVerifier();
        const QString code = approvedCode(verifier);
        const Answer wrong = exchange(code, freshVerifier());
        QCOMPARE(wrong.status, 400);
        QVERIFY2(wrong.error().contains(u"verifier does not match"_s), wrong.body.constData());

        const Answer answer = exchange(code, verifier);
        QCOMPARE(answer.status, 200);
        static const QRegularExpression credentialForm(
            u"^twk_device_([0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12})\\.[A-Za-z0-9_-]{43}$"_s);
        const auto credential = credentialForm.match(answer.json().value(u"credential"_s).toString());
        QVERIFY2(credential.hasMatch(), answer.body.constData());
        QCOMPARE(answer.json().value(u"device"_s).toObject().value(u"id"_s).toString(), credential.captured(1));

        const Answer again = exchange(code, verifier);
        QCOMPARE(again.status, 400);
        QCOMPARE(again.error(), u"The connection code was already used."_s);
    }

    void anExpiredCodeIsRefused()
    {
        LocalServiceProcess expiring({u"--code-lifetime"_s, u"0"_s});
        QVERIFY2(expiring.start(), expiring.errors().constData());
        const QUrl shared = std::exchange(m_base, expiring.baseUrl());
        const QString code = approvedCode(rfcVerifier);
        const Answer answer = exchange(code, rfcVerifier);
        m_base = shared;
        QVERIFY(codeForm.match(code).hasMatch());
        QCOMPARE(answer.status, 400);
        QCOMPARE(answer.error(), u"The connection code has expired. Connect this Mac again."_s);
    }

    void bearerRoutesRefuseUnknownCredentials_data()
    {
        QTest::addColumn<QByteArray>("authorization");
        const QByteArray unknown = "twk_device_0F8FAD5B-D9CB-469F-A165-70867728950E." + QByteArray(43, 'x');
        QTest::newRow("no header") << QByteArray();
        QTest::newRow("basic scheme") << "Basic dXNlcjpwYXNz"_ba;
        QTest::newRow("bearer without credential") << "Bearer"_ba;
        QTest::newRow("unknown credential") << "Bearer "_ba + unknown;
        QTest::newRow("credential without scheme") << unknown;
    }

    void bearerRoutesRefuseUnknownCredentials()
    {
        QFETCH(QByteArray, authorization);
        for (const auto &[verb, path] : {std::pair("GET"_ba, u"api/devices/me"_s),
                                         std::pair("DELETE"_ba, u"api/devices/me"_s),
                                         std::pair("GET"_ba, u"api/devices/me/activity"_s)}) {
            const Answer answer = send(verb, path, {}, authorization);
            QCOMPARE(answer.status, 401);
            QCOMPARE(answer.authenticate, "Bearer realm=\"Tarnwick\""_ba);
            QVERIFY2(!answer.error().isEmpty(), answer.body.constData());
        }
    }

    void aDisconnectedCredentialIsRefused()
    {
        const QString verifier = freshVerifier();
        const QString credential = exchange(approvedCode(verifier), verifier).json().value(u"credential"_s).toString();
        const QByteArray bearer = "Bearer "_ba + credential.toUtf8();
        QCOMPARE(send("GET"_ba, u"api/devices/me/activity"_s, {}, bearer).status, 200);
        // The scheme's name is not case-sensitive.
        QCOMPARE(send("GET"_ba, u"api/devices/me"_s, {}, "bearer "_ba + credential.toUtf8()).status, 200);

        QCOMPARE(send("DELETE"_ba, u"api/devices/me"_s, {}, bearer).status, 204);
        QCOMPARE(send("GET"_ba, u"api/devices/me"_s, {}, bearer).status, 401);
        QCOMPARE(send("GET"_ba, u"api/devices/me/activity"_s, {}, bearer).status, 401);
        QCOMPARE(send("DELETE"_ba, u"api/devices/me"_s, {}, bearer).status, 401);
    }
};

QTEST_GUILESS_MAIN(tst_LocalService)
#include "tst_localservice.moc"
