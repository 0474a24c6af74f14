#include "pairing/PairingSecurity.h"

#include <QRegularExpression>
#include <QTest>
#include <QUrlQuery>

using namespace Qt::StringLiterals;

namespace {

const QString expectedState = u"Zm9vYmFyYmF6cXV4cXV1eHF1dXhxdXV4cXV1eHF1dXg"_s;
const QString goodCode = u"abcdefghijklmnopqrstuvwxyzABCDEFGHIJ0123-_9"_s;
const PairingRequest fixedRequest{u"dBjftJeZ4CVP-mB92K27uhbUJU1p1r_wW1gFWFOEjXk"_s,
                                  u"E9Melhoa2OwvFrEMTJguCHaoeK1t8URWbuGJSstw-cM"_s, expectedState};

QByteArray rawValue(const QUrl &url, const QByteArray &name)
{
    for (const QByteArray &pair : url.query(QUrl::FullyEncoded).toLatin1().split('&')) {
        if (pair.startsWith(name + '='))
            return pair.mid(name.size() + 1);
    }
    return {};
}

}

class TestPairingSecurity : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void makeRequestGivesFreshUrlSafeValues()
    {
        const Result<PairingRequest> first = PairingSecurity::makeRequest();
        const Result<PairingRequest> second = PairingSecurity::makeRequest();
        QVERIFY(first && second);
        static const QRegularExpression base64url(u"^[A-Za-z0-9_-]{43}$"_s);
        for (const QString &value : {first->verifier, first->challenge, first->state})
            QVERIFY2(base64url.match(value).hasMatch(), qPrintable(value));
        QCOMPARE(first->challenge, PairingSecurity::challenge(first->verifier));
        QVERIFY(first->verifier != second->verifier && first->state != second->state);
        QVERIFY(first->verifier != first->state);
        QCOMPARE(PairingSecurity::challenge(fixedRequest.verifier), fixedRequest.challenge);
    }

    // The items in their order, existingDeviceId last when re-connecting. What reaches the browser is the
    // fully encoded form, with no "+" a form decoder would read as a space, and never the verifier.
    void connectionURL_data()
    {
        QTest::addColumn<QString>("deviceName");
        QTest::addColumn<QByteArray>("encoded");
        QTest::addColumn<std::optional<QString>>("clientBuild");
        QTest::addColumn<std::optional<QUuid>>("existingDeviceId");
        QTest::newRow("re-connecting, delimiters")
            << u"A&B=C+D#E"_s << QByteArray("A%26B%3DC%2BD%23E") << std::optional(u"10"_s)
            << std::optional(QUuid(u"0f8fad5b-d9cb-469f-a165-70867728950e"_s));
        QTest::newRow("first pairing, typographic")
            << u"Ana’s Mac"_s << QByteArray("Ana%E2%80%99s%20Mac") << std::optional(u"10"_s) << std::optional<QUuid>();
        QTest::newRow("no build, unreserved stay")
            << u"a-b_c.d~e"_s << QByteArray("a-b_c.d~e") << std::optional<QString>() << std::optional<QUuid>();
    }
    void connectionURL()
    {
        QFETCH(QString, deviceName);
        QFETCH(QByteArray, encoded);
        QFETCH(std::optional<QString>, clientBuild);
        QFETCH(std::optional<QUuid>, existingDeviceId);
        const auto url = PairingSecurity::connectionURL(QUrl(u"https://service.example/base"_s), fixedRequest,
                                                        deviceName, u"0.3.0"_s, clientBuild, existingDeviceId);
        QVERIFY(url);
        const QUrl sent = QUrl::fromEncoded(url->toEncoded());
        QCOMPARE(sent.path(), u"/base/connect/mac"_s + (clientBuild ? u"/"_s + *clientBuild : QString()));
        QCOMPARE(rawValue(sent, "deviceName"), encoded);
        QList<std::pair<QString, QString>> expected{{u"deviceName"_s, deviceName},
                                                    {u"platform"_s, u"macos"_s},
                                                    {u"architecture"_s, u"arm64"_s},
                                                    {u"appVersion"_s, u"0.3.0"_s},
                                                    {u"codeChallenge"_s, fixedRequest.challenge},
                                                    {u"state"_s, fixedRequest.state}};
        if (clientBuild)
            expected.append({u"clientBuild"_s, *clientBuild});
        if (existingDeviceId)
            expected.append({u"existingDeviceId"_s, u"0F8FAD5B-D9CB-469F-A165-70867728950E"_s});
        QCOMPARE(QUrlQuery(sent).queryItems(QUrl::FullyDecoded), expected);
        QVERIFY(!sent.toString().contains(fixedRequest.verifier));
    }

    void validateCallback_data()
    {
        QTest::addColumn<QString>("url");
        QTest::addColumn<std::optional<PairingValidationError>>("error");
        QTest::addColumn<QString>("expected"); // the attempt's state
        const QString state = u"state="_s + expectedState;
        const QString code = u"code="_s + goodCode;
        const QString both = u"?%1&%2"_s.arg(state, code);
        const auto accepted = std::optional<PairingValidationError>();
        const auto invalid = std::optional(PairingValidationError::invalidCallback);
        const auto mismatch = std::optional(PairingValidationError::stateMismatch);
        const auto missing = std::optional(PairingValidationError::missingCode);
        const QString callback = u"tarnwick://auth/callback"_s;
        const auto row = [](const char *name, const QString &url, std::optional<PairingValidationError> error,
                            const QString &expected = expectedState) {
            QTest::newRow(name) << url << error << expected;
        };

        row("good", callback + both, accepted);
        row("any order, others ignored", callback + u"?x=1&%2&%1&y"_s.arg(state, code), accepted);
        row("trailing slash", callback + u"/"_s + both, accepted);
        // Scheme and host are compared as QUrl normalises them (lower case); the path keeps its case, and
        // the state binds an upper-case callback to the attempt like any other.
        row("upper-case scheme and host", u"TARNWICK://AUTH/callback"_s + both, accepted);
        row("upper-case, other state", u"TARNWICK://AUTH/callback?state=x&"_s + code, mismatch);
        row("encoded name", callback + u"?%73tate="_s + expectedState + u"&"_s + code, accepted);

        row("other scheme", u"https://auth/callback"_s + both, invalid);
        row("other host", u"tarnwick://evil/callback"_s + both, invalid);
        row("other path", u"tarnwick://auth/callbacks"_s + both, invalid);
        row("path case", u"tarnwick://auth/Callback"_s + both, invalid);

        row("no query", callback, mismatch);
        row("other state", callback + u"?state=x&"_s + code, mismatch);
        row("state case", callback + u"?state=%1&%2"_s.arg(expectedState.toLower(), code), mismatch);
        row("repeated state, second other", callback + u"?%1&state=x&%2"_s.arg(state, code), mismatch);

        row("empty state expected", callback + u"?state=&"_s + code, mismatch, QString());
        row("no code", callback + u"?"_s + state, missing);
        row("42 characters", callback + u"?%1&code=%2"_s.arg(state, goodCode.left(42)), missing);
        row("plus in code", callback + u"?%1&code="_s.arg(state) + goodCode.left(42) + u"%2B"_s, missing);
        row("line feed after code", callback + both + u"%0A"_s, missing);
        row("repeated code", callback + both + u"&"_s + code, missing);
    }

    void validateCallback()
    {
        QFETCH(QString, url);
        QFETCH(std::optional<PairingValidationError>, error);
        QFETCH(QString, expected);
        const auto result = PairingSecurity::validateCallback(QUrl(url), expected);
        QCOMPARE(result ? std::nullopt : std::optional(result.error()), error);
        if (result)
            QCOMPARE(*result, goodCode);
    }
};

QTEST_GUILESS_MAIN(TestPairingSecurity)
#include "tst_pairingsecurity.moc"
