#include "LocalServiceProcess.h"

#include <QCryptographicHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>
#include <QUrlQuery>

#include <memory>
#include <optional>

using namespace Qt::StringLiterals;

namespace
{
constexpr int replyTimeoutMs = 10000;

const QString rfcVerifier = u"dBjftJeZ4CVP-mB92K27uhbUJU1p1r_wW1gFWFOEjXk"_s;
const QString demoRunningTaskId = u"6F1C2B7E-3D4A-4E5B-9C8D-1A2B3C4D5E6F"_s;
const QRegularExpression codeForm(u"^[A-Za-z0-9_-]{43}$"_s);
const QRegularExpression credentialForm(u"^twk_device_([0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12})\\.[A-Za-z0-9_-]{43}$"_s);

QString base64Url(const QByteArray &bytes)
{
    return QString::fromLatin1(bytes.toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals));
}

QString challengeFor(const QString &verifier)
{
    return base64Url(QCryptographicHash::hash(verifier.toUtf8(), QCryptographicHash::Sha256));
}

QString freshVerifier()
{
    QByteArray bytes(32, Qt::Uninitialized);
    for (char &byte : bytes)
        byte = char(QRandomGenerator::global()->bounded(256));
    return base64Url(bytes);
}

// Query items as "name=value" texts, in order; a value may hold any character, "=" included.
QStringList connectionItems(const QString &verifier)
{
    return {u"deviceName=Ann’s MacBook Pro"_s, u"platform=macos"_s, u"architecture=arm64"_s,
            u"appVersion=0.3.0"_s, u"codeChallenge="_s + challengeFor(verifier), u"state=s7a7e"_s,
            u"clientBuild=10"_s};
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
QUrl connectionUrl(const QUrl &base, const std::optional<QString> &build, const QStringList &items)
{
    QString path = u"connect/mac"_s;
    if (build)
        path += u'/' + *build;
    QStringList encoded;
    for (const QString &item : items) {
        encoded << item.section(u'=', 0, 0) + u'='
                       + QString::fromLatin1(QUrl::toPercentEncoding(item.section(u'=', 1)));
    }
    QUrl url = base.resolved(QUrl(path));
    url.setQuery(encoded.join(u'&'), QUrl::StrictMode);
    return url;
}

struct Answer
{
    int status = 0;
    QByteArray body;
    QByteArray location;
    QByteArray contentType;
    QByteArray authenticate;
    QByteArray allow;

    QJsonObject json() const { return QJsonDocument::fromJson(body).object(); }
    QString error() const { return json().value(u"error"_s).toString(); }
};

QString connectionIdIn(const QByteArray &page)
{
    static const QRegularExpression field(u"name=\"connection\" value=\"([A-Za-z0-9_-]+)\""_s);
    return field.match(QString::fromUtf8(page)).captured(1);
}

// The callback's query items by name, every occurrence kept.
QMultiMap<QString, QString> callbackItems(const QByteArray &location)
{
    QMultiMap<QString, QString> items;
    const QUrl url = QUrl::fromEncoded(location, QUrl::StrictMode);
    for (const auto &[name, value] : QUrlQuery(url).queryItems(QUrl::FullyDecoded))
        items.insert(name, value);
    return items;
}
}

class tst_LocalService : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();

    void helpTellsRoutesAndOptions();
    void badStartIsReported_data();
    void badStartIsReported();
    void busyPortIsReported();

    void connectionPageChecksItsQuery_data();
    void connectionPageChecksItsQuery();
    void connectionPageEscapesTheDeviceName();
    void approvalRedirectsToTheCallbackOnce();
    void approveImmediatelyRedirectsAtOnce();

    void exchangeAnswersCredentialAndDevice();
    void exchangeRefusals_data();
    void exchangeRefusals();
    void wrongVerifierLeavesTheCodeUsable();
    void codeIsExchangedOnlyOnce();
    void expiredCodeIsRefused();
    void reconnectKeepsTheDeviceAndRetiresItsOldCredential();

    void bearerRoutesAnswerThePairedMac();
    void bearerRoutesRefuseUnknownCredentials_data();
    void bearerRoutesRefuseUnknownCredentials();
    void disconnectedCredentialIsRefused();
    void activityComesFromTheGivenFile();

    void pages_data();
    void pages();
    void unknownAddressesAndMethods_data();
    void unknownAddressesAndMethods();

private:
    Answer send(const QByteArray &verb, const QUrl &url, const QByteArray &body = {},
                const QByteArray &authorization = {});
    Answer exchange(const QUrl &base, const QString &code, const QString &verifier);
    // Opens the connection page, presses its button and answers the callback's code (empty on failure).
    QString approvedCode(const QUrl &base, const QStringList &items);
    // A full pairing against the shared service; answers the exchange's JSON.
    QJsonObject pair(const QStringList &items, const QString &verifier);
    QUrl api(const QString &path) const;

    QNetworkAccessManager m_network;
    std::unique_ptr<LocalServiceProcess> m_service;
};

void tst_LocalService::initTestCase()
{
    m_service = std::make_unique<LocalServiceProcess>();
    QVERIFY2(m_service->start(), m_service->errors().constData());
}

Answer tst_LocalService::send(const QByteArray &verb, const QUrl &url, const QByteArray &body,
                              const QByteArray &authorization)
{
    QNetworkRequest request(url);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    if (!body.isEmpty())
        request.setHeader(QNetworkRequest::ContentTypeHeader, verb == "POST" && url.path().startsWith(u"/api/"_s)
                                                                  ? "application/json"_ba
                                                                  : "application/x-www-form-urlencoded"_ba);
    if (!authorization.isNull())
        request.setRawHeader("Authorization"_ba, authorization);
    std::unique_ptr<QNetworkReply> reply(m_network.sendCustomRequest(request, verb, body));
    QSignalSpy finished(reply.get(), &QNetworkReply::finished);
    if (!reply->isFinished() && !finished.wait(replyTimeoutMs))
        return {};
    return Answer{reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), reply->readAll(),
                  reply->rawHeader("Location"_ba), reply->rawHeader("Content-Type"_ba),
                  reply->rawHeader("WWW-Authenticate"_ba), reply->rawHeader("Allow"_ba)};
}

Answer tst_LocalService::exchange(const QUrl &base, const QString &code, const QString &verifier)
{
    const QJsonObject body{{u"code"_s, code}, {u"verifier"_s, verifier}};
    return send("POST"_ba, base.resolved(QUrl(u"api/devices/exchange"_s)), QJsonDocument(body).toJson());
}

QString tst_LocalService::approvedCode(const QUrl &base, const QStringList &items)
{
    const Answer page = send("GET"_ba, connectionUrl(base, u"10"_s, items));
    const Answer approval = send("POST"_ba, base.resolved(QUrl(u"connect/approve"_s)),
                                 "connection="_ba + connectionIdIn(page.body).toLatin1());
    return approval.status == 302 ? callbackItems(approval.location).value(u"code"_s) : QString();
}

QJsonObject tst_LocalService::pair(const QStringList &items, const QString &verifier)
{
    return exchange(m_service->baseUrl(), approvedCode(m_service->baseUrl(), items), verifier).json();
}

QUrl tst_LocalService::api(const QString &path) const
{
    return m_service->baseUrl().resolved(QUrl(path));
}

void tst_LocalService::helpTellsRoutesAndOptions()
{
    QProcess help;
    help.start(LocalServiceProcess::programPath(), {u"--help"_s});
    QVERIFY(help.waitForFinished(replyTimeoutMs));
    QCOMPARE(help.exitCode(), 0);
    const QString text = QString::fromUtf8(help.readAllStandardOutput());
    for (const QString &expected : {u"/connect/mac"_s, u"/connect/approve"_s, u"/api/devices/exchange"_s,
                                    u"/api/devices/me"_s, u"/api/devices/me/activity"_s, u"/?task="_s,
                                    u"--port"_s, u"--approve-immediately"_s, u"--activity"_s, u"--version"_s})
        QVERIFY2(text.contains(expected), qPrintable(expected));

    QProcess version;
    version.start(LocalServiceProcess::programPath(), {u"--version"_s});
    QVERIFY(version.waitForFinished(replyTimeoutMs));
    QCOMPARE(version.exitCode(), 0);
    QVERIFY(version.readAllStandardOutput().contains(TARNWICK_VERSION));
}

void tst_LocalService::badStartIsReported_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("message");
    const QString data = QStringLiteral(TESTS_DATA_DIR "/tools/");
    QTest::newRow("port not a number") << QStringList{u"--port"_s, u"http"_s} << u"port"_s;
    QTest::newRow("port out of range") << QStringList{u"--port"_s, u"65536"_s} << u"port"_s;
    QTest::newRow("stray argument") << QStringList{u"serve"_s} << u"serve"_s;
    QTest::newRow("missing activity file") << QStringList{u"--activity"_s, data + u"absent.json"_s} << u"absent.json"_s;
    QTest::newRow("activity without completion")
        << QStringList{u"--activity"_s, data + u"activity-without-completion.json"_s} << u"completedAt"_s;
}

void tst_LocalService::badStartIsReported()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, message);
    QProcess service;
    service.start(LocalServiceProcess::programPath(), arguments);
    QVERIFY(service.waitForFinished(replyTimeoutMs));
    QCOMPARE(service.exitStatus(), QProcess::NormalExit);
    QCOMPARE(service.exitCode(), 1);
    QCOMPARE(service.readAllStandardOutput(), QByteArray());
    const QString errors = QString::fromUtf8(service.readAllStandardError());
    QVERIFY2(errors.contains(message), qPrintable(errors));
}

void tst_LocalService::busyPortIsReported()
{
    QProcess second;
    second.start(LocalServiceProcess::programPath(),
                 {u"--port"_s, QString::number(m_service->baseUrl().port())});
    QVERIFY(second.waitForFinished(replyTimeoutMs));
    QCOMPARE(second.exitCode(), 1);
    QVERIFY(second.readAllStandardError().contains("Cannot listen on 127.0.0.1"));
}

void tst_LocalService::connectionPageChecksItsQuery_data()
{
    QTest::addColumn<std::optional<QString>>("build");
    QTest::addColumn<QStringList>("items");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("message");

    const QStringList valid = connectionItems(rfcVerifier);
    const std::optional<QString> build = u"10"_s;
    QTest::newRow("first connection") << build << valid << 200 << u"Allow this Mac"_s;
    QTest::newRow("without build") << std::optional<QString>() << without(valid, u"clientBuild"_s) << 200
                                   << u"Allow this Mac"_s;
    QTest::newRow("reconnection, lower-case identifier")
        << build << (QStringList(valid) << u"existingDeviceId=0f8fad5b-d9cb-469f-a165-70867728950e"_s) << 200
        << u"0F8FAD5B-D9CB-469F-A165-70867728950E"_s;
    QTest::newRow("unknown item ignored") << build << (QStringList(valid) << u"theme=dark"_s) << 200
                                          << u"Allow this Mac"_s;
    for (const QString &name : {u"deviceName"_s, u"platform"_s, u"architecture"_s, u"appVersion"_s,
                               u"codeChallenge"_s, u"state"_s}) {
        QTest::addRow("no %s", qPrintable(name)) << build << without(valid, name) << 400 << u"has no “"_s + name;
        QTest::addRow("empty %s", qPrintable(name)) << build << replacing(valid, name, {}) << 400 << u"has no “"_s + name;
    }
    QTest::newRow("state twice") << build << (QStringList(valid) << u"state=other"_s) << 400
                                 << u"“state” more than once"_s;
    QTest::newRow("challenge twice") << build << (QStringList(valid) << u"codeChallenge="_s + challengeFor(u"x"_s))
                                     << 400 << u"“codeChallenge” more than once"_s;
    QTest::newRow("challenge of 42") << build << replacing(valid, u"codeChallenge"_s, challengeFor(rfcVerifier).chopped(1))
                                     << 400 << u"SHA-256 challenge"_s;
    QTest::newRow("challenge in base64") << build << replacing(valid, u"codeChallenge"_s, u"+/"_s + challengeFor(rfcVerifier).mid(2))
                                         << 400 << u"SHA-256 challenge"_s;
    QTest::newRow("build only in path") << build << without(valid, u"clientBuild"_s) << 400 << u"does not match"_s;
    QTest::newRow("build only in query") << std::optional<QString>() << valid << 400 << u"does not match"_s;
    QTest::newRow("builds differ") << std::optional<QString>(u"11"_s) << valid << 400 << u"does not match"_s;
    QTest::newRow("device identifier not a UUID")
        << build << (QStringList(valid) << u"existingDeviceId=mac-1"_s) << 400 << u"“existingDeviceId”"_s;
    QTest::newRow("nil device identifier")
        << build << (QStringList(valid) << u"existingDeviceId=00000000-0000-0000-0000-000000000000"_s) << 400
        << u"“existingDeviceId”"_s;
    QTest::newRow("device name too long") << build << replacing(valid, u"deviceName"_s, QString(300, u'M')) << 400
                                          << u"too long"_s;
}

void tst_LocalService::connectionPageChecksItsQuery()
{
    QFETCH(std::optional<QString>, build);
    QFETCH(QStringList, items);
    QFETCH(int, status);
    QFETCH(QString, message);

    const Answer page = send("GET"_ba, connectionUrl(m_service->baseUrl(), build, items));
    QCOMPARE(page.status, status);
    QVERIFY(page.contentType.startsWith("text/html"));
    const QString text = QString::fromUtf8(page.body);
    QVERIFY2(text.contains(message), qPrintable(text));
    QCOMPARE(connectionIdIn(page.body).isEmpty(), status != 200);
}

void tst_LocalService::connectionPageEscapesTheDeviceName()
{
    const QString name = u"<script>alert(1)</script> & \"Mac\" +=#"_s;
    const Answer page = send("GET"_ba, connectionUrl(m_service->baseUrl(), u"10"_s,
                                                     replacing(connectionItems(rfcVerifier), u"deviceName"_s, name)));
    QCOMPARE(page.status, 200);
    const QString text = QString::fromUtf8(page.body);
    QVERIFY(text.contains(name.toHtmlEscaped()));
    QVERIFY(!text.contains(u"<script>"_s));
}

void tst_LocalService::approvalRedirectsToTheCallbackOnce()
{
    const QString state = u"a+b&c=d #é/%20"_s;
    const Answer page = send("GET"_ba, connectionUrl(m_service->baseUrl(), u"10"_s,
                                                     replacing(connectionItems(rfcVerifier), u"state"_s, state)));
    const QByteArray form = "connection="_ba + connectionIdIn(page.body).toLatin1();
    const QUrl approve = api(u"connect/approve"_s);

    const Answer approval = send("POST"_ba, approve, form);
    QCOMPARE(approval.status, 302);
    const QUrl callback = QUrl::fromEncoded(approval.location, QUrl::StrictMode);
    QCOMPARE(callback.scheme(), u"tarnwick"_s);
    QCOMPARE(callback.host(), u"auth"_s);
    QCOMPARE(callback.path(), u"/callback"_s);
    const QMultiMap<QString, QString> items = callbackItems(approval.location);
    QCOMPARE(items.keys(), (QStringList{u"code"_s, u"state"_s}));
    QCOMPARE(items.value(u"state"_s), state);
    QVERIFY(codeForm.match(items.value(u"code"_s)).hasMatch());

    QCOMPARE(send("POST"_ba, approve, form).status, 404);
    QCOMPARE(send("POST"_ba, approve, "connection=unknown"_ba).status, 404);
    QCOMPARE(send("POST"_ba, approve, "nothing=here"_ba).status, 404);
}

void tst_LocalService::approveImmediatelyRedirectsAtOnce()
{
    LocalServiceProcess service({u"--approve-immediately"_s});
    QVERIFY2(service.start(), service.errors().constData());
    const QStringList items = connectionItems(rfcVerifier);

    const Answer approval = send("GET"_ba, connectionUrl(service.baseUrl(), u"10"_s, items));
    QCOMPARE(approval.status, 302);
    QVERIFY(approval.location.startsWith("tarnwick://auth/callback?state=s7a7e&code="));
    const QString code = callbackItems(approval.location).value(u"code"_s);
    QVERIFY(codeForm.match(code).hasMatch());
    QCOMPARE(exchange(service.baseUrl(), code, rfcVerifier).status, 200);

    QCOMPARE(send("GET"_ba, connectionUrl(service.baseUrl(), u"10"_s, without(items, u"state"_s))).status, 400);
}

void tst_LocalService::exchangeAnswersCredentialAndDevice()
{
    const QString verifier = freshVerifier();
    const QString code = approvedCode(m_service->baseUrl(), connectionItems(verifier));
    QVERIFY(codeForm.match(code).hasMatch());

    const Answer answer = exchange(m_service->baseUrl(), code, verifier);
    QCOMPARE(answer.status, 200);
    QVERIFY(answer.contentType.startsWith("application/json"));
    const QJsonObject body = answer.json();
    const auto token = credentialForm.match(body.value(u"credential"_s).toString());
    QVERIFY2(token.hasMatch(), answer.body.constData());
    const QJsonObject device = body.value(u"device"_s).toObject();
    QCOMPARE(device.value(u"id"_s).toString(), token.captured(1));
    QCOMPARE(device.value(u"name"_s).toString(), u"Ann’s MacBook Pro"_s);
    QCOMPARE(device.value(u"platform"_s).toString(), u"macos"_s);
    QCOMPARE(device.value(u"architecture"_s).toString(), u"arm64"_s);
    QCOMPARE(device.value(u"appVersion"_s).toString(), u"0.3.0"_s);
    QCOMPARE(device.value(u"online"_s), QJsonValue(true));
    QVERIFY(QDateTime::fromString(device.value(u"lastSeenAt"_s).toString(), Qt::ISODate).isValid());
}

void tst_LocalService::exchangeRefusals_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("message");
    const QString otherVerifier = freshVerifier();
    QTest::newRow("wrong verifier") << ("{\"code\":\"%CODE%\",\"verifier\":\""_ba + otherVerifier.toLatin1() + "\"}")
                                    << u"verifier does not match"_s;
    QTest::newRow("unknown code") << ("{\"code\":\"" + QByteArray(43, 'A') + "\",\"verifier\":\"%VERIFIER%\"}")
                                  << u"not valid"_s;
    QTest::newRow("verifier too short") << "{\"code\":\"%CODE%\",\"verifier\":\"abc\"}"_ba << u"43 to 128"_s;
    QTest::newRow("verifier with a space")
        << "{\"code\":\"%CODE%\",\"verifier\":\"%VERIFIER% \"}"_ba << u"43 to 128"_s;
    QTest::newRow("no verifier") << "{\"code\":\"%CODE%\"}"_ba << u"“verifier”"_s;
    QTest::newRow("code is a number") << "{\"code\":7,\"verifier\":\"%VERIFIER%\"}"_ba << u"“code”"_s;
    QTest::newRow("array") << "[\"%CODE%\",\"%VERIFIER%\"]"_ba << u"“code”"_s;
    QTest::newRow("not JSON") << "code=%CODE%&verifier=%VERIFIER%"_ba << u"“code”"_s;
    QTest::newRow("empty") << QByteArray() << u"“code”"_s;
}

void tst_LocalService::exchangeRefusals()
{
    QFETCH(QByteArray, body);
    QFETCH(QString, message);
    const QString verifier = freshVerifier();
    const QString code = approvedCode(m_service->baseUrl(), connectionItems(verifier));
    body.replace("%CODE%", code.toLatin1()).replace("%VERIFIER%", verifier.toLatin1());

    const Answer answer = send("POST"_ba, api(u"api/devices/exchange"_s), body);
    QCOMPARE(answer.status, 400);
    QVERIFY(answer.contentType.startsWith("application/json"));
    QVERIFY2(answer.error().contains(message), answer.body.constData());
}

void tst_LocalService::wrongVerifierLeavesTheCodeUsable()
{
    const QString verifier = freshVerifier();
    const QString code = approvedCode(m_service->baseUrl(), connectionItems(verifier));
    QCOMPARE(exchange(m_service->baseUrl(), code, freshVerifier()).status, 400);
    QCOMPARE(exchange(m_service->baseUrl(), code, verifier).status, 200);
}

void tst_LocalService::codeIsExchangedOnlyOnce()
{
    const QString verifier = freshVerifier();
    const QString code = approvedCode(m_service->baseUrl(), connectionItems(verifier));
    QCOMPARE(exchange(m_service->baseUrl(), code, verifier).status, 200);
    const Answer again = exchange(m_service->baseUrl(), code, verifier);
    QCOMPARE(again.status, 400);
    QCOMPARE(again.error(), u"The connection code was already used."_s);
}

void tst_LocalService::expiredCodeIsRefused()
{
    LocalServiceProcess service({u"--code-lifetime"_s, u"0"_s});
    QVERIFY2(service.start(), service.errors().constData());
    const QString code = approvedCode(service.baseUrl(), connectionItems(rfcVerifier));
    QVERIFY(codeForm.match(code).hasMatch());
    const Answer answer = exchange(service.baseUrl(), code, rfcVerifier);
    QCOMPARE(answer.status, 400);
    QCOMPARE(answer.error(), u"The connection code has expired. Connect this Mac again."_s);
}

void tst_LocalService::reconnectKeepsTheDeviceAndRetiresItsOldCredential()
{
    const QString firstVerifier = freshVerifier();
    const QJsonObject first = pair(connectionItems(firstVerifier), firstVerifier);
    const QString deviceId = first.value(u"device"_s).toObject().value(u"id"_s).toString();
    QVERIFY(!deviceId.isEmpty());

    const QString verifier = freshVerifier();
    const QJsonObject second = pair(
        replacing(connectionItems(verifier), u"deviceName"_s, u"Renamed Mac"_s) << u"existingDeviceId="_s + deviceId.toLower(),
        verifier);
    const QJsonObject device = second.value(u"device"_s).toObject();
    QCOMPARE(device.value(u"id"_s).toString(), deviceId);
    QCOMPARE(device.value(u"name"_s).toString(), u"Renamed Mac"_s);
    QVERIFY(second.value(u"credential"_s).toString().startsWith(u"twk_device_"_s + deviceId + u'.'));

    const auto bearer = [](const QJsonObject &exchange) {
        return "Bearer "_ba + exchange.value(u"credential"_s).toString().toUtf8();
    };
    QCOMPARE(send("GET"_ba, api(u"api/devices/me"_s), {}, bearer(first)).status, 401);
    QCOMPARE(send("GET"_ba, api(u"api/devices/me"_s), {}, bearer(second)).status, 200);
}

void tst_LocalService::bearerRoutesAnswerThePairedMac()
{
    const QJsonObject paired = pair(connectionItems(rfcVerifier), rfcVerifier);
    const QByteArray credential = paired.value(u"credential"_s).toString().toUtf8();
    const QByteArray bearer = "Bearer "_ba + credential;

    // The scheme's name is not case-sensitive.
    const Answer me = send("GET"_ba, api(u"api/devices/me"_s), {}, "bearer "_ba + credential);
    QCOMPARE(me.status, 200);
    QCOMPARE(me.json().value(u"device"_s).toObject().value(u"id"_s),
             paired.value(u"device"_s).toObject().value(u"id"_s));

    const Answer activity = send("GET"_ba, api(u"api/devices/me/activity"_s), {}, bearer);
    QCOMPARE(activity.status, 200);
    const QJsonObject running = activity.json().value(u"running"_s).toObject();
    QCOMPARE(running.value(u"taskId"_s).toString(), demoRunningTaskId);
    for (const QString &member : {u"label"_s, u"provider"_s, u"startedAt"_s})
        QVERIFY2(!running.value(member).toString().isEmpty(), qPrintable(member));
    const QJsonArray recent = activity.json().value(u"recent"_s).toArray();
    QCOMPARE(recent.size(), 5);
    for (const QJsonValue &task : recent) {
        QVERIFY(!QUuid::fromString(task[u"taskId"_s].toString()).isNull());
        for (const QString &member : {u"label"_s, u"status"_s, u"completedAt"_s})
            QVERIFY2(!task[member].toString().isEmpty(), qPrintable(member));
    }
}

void tst_LocalService::bearerRoutesRefuseUnknownCredentials_data()
{
    QTest::addColumn<QByteArray>("authorization");
    const QByteArray unknown = "twk_device_0F8FAD5B-D9CB-469F-A165-70867728950E." + QByteArray(43, 'x');
    QTest::newRow("no header") << QByteArray();
    QTest::newRow("basic scheme") << "Basic dXNlcjpwYXNz"_ba;
    QTest::newRow("bearer without credential") << "Bearer"_ba;
    QTest::newRow("unknown credential") << "Bearer "_ba + unknown;
    QTest::newRow("credential without scheme") << unknown;
}

void tst_LocalService::bearerRoutesRefuseUnknownCredentials()
{
    QFETCH(QByteArray, authorization);
    for (const auto &[verb, path] : {std::pair("GET"_ba, u"api/devices/me"_s),
                                     std::pair("DELETE"_ba, u"api/devices/me"_s),
                                     std::pair("GET"_ba, u"api/devices/me/activity"_s)}) {
        const Answer answer = send(verb, api(path), {}, authorization);
        QCOMPARE(answer.status, 401);
        QCOMPARE(answer.authenticate, "Bearer realm=\"Tarnwick\""_ba);
        QVERIFY2(!answer.error().isEmpty(), answer.body.constData());
    }
}

void tst_LocalService::disconnectedCredentialIsRefused()
{
    const QString verifier = freshVerifier();
    const QByteArray bearer = "Bearer "_ba + pair(connectionItems(verifier), verifier).value(u"credential"_s).toString().toUtf8();

    const Answer disconnect = send("DELETE"_ba, api(u"api/devices/me"_s), {}, bearer);
    QCOMPARE(disconnect.status, 204);
    QCOMPARE(send("GET"_ba, api(u"api/devices/me"_s), {}, bearer).status, 401);
    QCOMPARE(send("GET"_ba, api(u"api/devices/me/activity"_s), {}, bearer).status, 401);
    QCOMPARE(send("DELETE"_ba, api(u"api/devices/me"_s), {}, bearer).status, 401);
}

void tst_LocalService::activityComesFromTheGivenFile()
{
    const QString path = QStringLiteral(TESTS_DATA_DIR "/tools/activity.json");
    LocalServiceProcess service({u"--activity"_s, path, u"--approve-immediately"_s});
    QVERIFY2(service.start(), service.errors().constData());
    const Answer approval = send("GET"_ba, connectionUrl(service.baseUrl(), u"10"_s, connectionItems(rfcVerifier)));
    const Answer paired = exchange(service.baseUrl(), callbackItems(approval.location).value(u"code"_s), rfcVerifier);
    const QByteArray bearer = "Bearer "_ba + paired.json().value(u"credential"_s).toString().toUtf8();

    const Answer activity = send("GET"_ba, service.baseUrl().resolved(QUrl(u"api/devices/me/activity"_s)), {}, bearer);
    QCOMPARE(activity.status, 200);
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(activity.json(), QJsonDocument::fromJson(file.readAll()).object());

    const Answer task = send("GET"_ba, service.baseUrl().resolved(QUrl(u"/?task=9A8B7C6D-5E4F-4A3B-8C2D-1E0F9A8B7C6D"_s)));
    QCOMPARE(task.status, 200);
    QVERIFY(task.body.contains("Port the importer to &lt;streams&gt; &amp; friends"));
}

void tst_LocalService::pages_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("content");
    QTest::newRow("dashboard") << u"/"_s << 200 << u"Fix the flaky checkout test"_s;
    QTest::newRow("running task") << u"/?task="_s + demoRunningTaskId << 200 << u"Codex"_s;
    QTest::newRow("recent task, lower case") << u"/?task=2d3e4f5a-6b7c-4d8e-9f0a-1b2c3d4e5f6a"_s << 200
                                             << u"Investigate the slow search query"_s;
    QTest::newRow("unknown task") << u"/?task=0F8FAD5B-D9CB-469F-A165-70867728950E"_s << 404 << u"No such task"_s;
    QTest::newRow("not a task identifier") << u"/?task=%3Cb%3E"_s << 400 << u"No such task"_s;
}

void tst_LocalService::pages()
{
    QFETCH(QString, path);
    QFETCH(int, status);
    QFETCH(QString, content);
    const Answer page = send("GET"_ba, api(path));
    QCOMPARE(page.status, status);
    QVERIFY(page.contentType.startsWith("text/html"));
    QVERIFY2(QString::fromUtf8(page.body).contains(content), page.body.constData());
}

void tst_LocalService::unknownAddressesAndMethods_data()
{
    QTest::addColumn<QByteArray>("verb");
    QTest::addColumn<QString>("path");
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("allow");
    QTest::addColumn<QByteArray>("contentType");
    QTest::newRow("unknown API path") << "GET"_ba << u"api/devices/all"_s << 404 << QByteArray() << "application/json"_ba;
    QTest::newRow("unknown page") << "GET"_ba << u"settings"_s << 404 << QByteArray() << "text/html"_ba;
    QTest::newRow("PUT on the device") << "PUT"_ba << u"api/devices/me"_s << 405 << "GET, DELETE"_ba << "application/json"_ba;
    QTest::newRow("GET on the exchange") << "GET"_ba << u"api/devices/exchange"_s << 405 << "POST"_ba << "application/json"_ba;
    QTest::newRow("below the connection page") << "GET"_ba << u"connect/mac/10/more"_s << 404 << QByteArray() << "text/html"_ba;
    QTest::newRow("POST on the connection page") << "POST"_ba << u"connect/mac/10"_s << 405 << "GET"_ba << "text/html"_ba;
}

void tst_LocalService::unknownAddressesAndMethods()
{
    QFETCH(QByteArray, verb);
    QFETCH(QString, path);
    QFETCH(int, status);
    QFETCH(QByteArray, allow);
    QFETCH(QByteArray, contentType);
    const Answer answer = send(verb, api(path));
    QCOMPARE(answer.status, status);
    QCOMPARE(answer.allow, allow);
    QVERIFY(answer.contentType.startsWith(contentType));
    if (contentType == "application/json")
        QVERIFY(!answer.error().isEmpty());
}

QTEST_GUILESS_MAIN(tst_LocalService)
#include "tst_localservice.moc"
