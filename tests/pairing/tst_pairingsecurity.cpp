#include "pairing/PairingSecurity.h"

#include <QRegularExpression>
#include <QTest>
#include <QUrlQuery>

using namespace Qt::StringLiterals;

namespace {

const QString expectedState = u"Zm9vYmFyYmF6cXV4cXV1eHF1dXhxdXV4cXV1eHF1dXg"_s;
const QString goodCode = u"abcdefghijklmnopqrstuvwxyzABCDEFGHIJ0123-_9"_s;

PairingRequest fixedRequest()
{
    return PairingRequest{u"dBjftJeZ4CVP-mB92K27uhbUJU1p1r_wW1gFWFOEjXk"_s,
                          u"E9Melhoa2OwvFrEMTJguCHaoeK1t8URWbuGJSstw-cM"_s, expectedState};
}

QList<std::pair<QString, QString>> queryItems(const QUrl &url)
{
    return QUrlQuery(url).queryItems(QUrl::FullyDecoded);
}

QStringList names(const QList<std::pair<QString, QString>> &items)
{
    QStringList result;
    for (const auto &item : items)
        result.append(item.first);
    return result;
}

// What an HTML form decoder makes of a query value: "+" is a space, then percent-decoding.
QString formDecoded(QByteArray value)
{
    value.replace('+', ' ');
    return QString::fromUtf8(QByteArray::fromPercentEncoding(value));
}

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
    void makeRequestGivesThreeUrlSafeValues()
    {
        const Result<PairingRequest> first = PairingSecurity::makeRequest();
        const Result<PairingRequest> second = PairingSecurity::makeRequest();
        QVERIFY(first && second);
        const QRegularExpression base64url(u"^[A-Za-z0-9_-]{43}$"_s);
        for (const QString &value : {first->verifier, first->challenge, first->state})
            QVERIFY2(base64url.match(value).hasMatch(), qPrintable(value));
        QCOMPARE(first->challenge, PairingSecurity::challenge(first->verifier));
        QVERIFY(first->verifier != second->verifier);
        QVERIFY(first->state != second->state);
        QVERIFY(first->verifier != first->state);
    }

    void challengeMatchesTheRfc7636Vector()
    {
        QCOMPARE(PairingSecurity::challenge(u"dBjftJeZ4CVP-mB92K27uhbUJU1p1r_wW1gFWFOEjXk"_s),
                 u"E9Melhoa2OwvFrEMTJguCHaoeK1t8URWbuGJSstw-cM"_s);
    }

    void connectionURLWithoutBuildOrDevice()
    {
        const auto url = PairingSecurity::connectionURL(QUrl(u"https://service.example"_s), fixedRequest(),
                                                        u"Desk"_s, u"0.3.0"_s, std::nullopt, std::nullopt);
        QVERIFY(url);
        QCOMPARE(url->path(), u"/connect/mac"_s);
        const auto items = queryItems(*url);
        QCOMPARE(names(items), QStringList({u"deviceName"_s, u"platform"_s, u"architecture"_s, u"appVersion"_s,
                                             u"codeChallenge"_s, u"state"_s}));
        QCOMPARE(items.at(1).second, u"macos"_s);
        QCOMPARE(items.at(2).second, u"arm64"_s);
        QCOMPARE(items.at(4).second, fixedRequest().challenge);
        QCOMPARE(items.at(5).second, expectedState);
        QVERIFY(!url->toString().contains(fixedRequest().verifier));
    }

    void connectionURLWithBuildAndDevice()
    {
        const QUuid device = QUuid::fromString(u"6f1c2a3b-4d5e-4f60-8a9b-0c1d2e3f4a5b"_s);
        const auto url = PairingSecurity::connectionURL(QUrl(u"http://127.0.0.1:8787/base"_s), fixedRequest(),
                                                        u"Desk"_s, u"0.3.0"_s, u"10"_s, device);
        QVERIFY(url);
        QCOMPARE(url->toString(QUrl::RemoveQuery), u"http://127.0.0.1:8787/base/connect/mac/10"_s);
        const auto items = queryItems(*url);
        QCOMPARE(items.size(), 8);
        QCOMPARE(items.at(6), std::pair(u"clientBuild"_s, u"10"_s));
        QCOMPARE(items.at(7), std::pair(u"existingDeviceId"_s, u"6F1C2A3B-4D5E-4F60-8A9B-0C1D2E3F4A5B"_s));
    }

    void connectionURLKeepsAnOddBuildInOneSegment()
    {
        const auto url = PairingSecurity::connectionURL(QUrl(u"https://service.example/"_s), fixedRequest(),
                                                        u"Desk"_s, u"0.3.0"_s, u"10/../x"_s, std::nullopt);
        QVERIFY(url);
        QCOMPARE(url->path(QUrl::FullyEncoded), u"/connect/mac/10%2F..%2Fx"_s);
    }

    void connectionURLNeedsAnAbsoluteBase_data()
    {
        QTest::addColumn<QUrl>("base");
        QTest::newRow("empty") << QUrl();
        QTest::newRow("relative") << QUrl(u"service/"_s);
        QTest::newRow("no host") << QUrl(u"file:///tmp/x"_s);
    }

    void connectionURLNeedsAnAbsoluteBase()
    {
        QFETCH(QUrl, base);
        QVERIFY(!PairingSecurity::connectionURL(base, fixedRequest(), u"Desk"_s, u"0.3.0"_s, std::nullopt,
                                                std::nullopt));
    }

    void deviceNameSurvivesEveryDecoder_data()
    {
        QTest::addColumn<QString>("deviceName");
        QTest::addColumn<QByteArray>("encoded");
        QTest::newRow("spaces") << u"Ana Lima MacBook"_s << QByteArray("Ana%20Lima%20MacBook");
        QTest::newRow("delimiters") << u"A&B=C+D#E"_s << QByteArray("A%26B%3DC%2BD%23E");
        QTest::newRow("percent and question") << u"50% sure?"_s << QByteArray("50%25%20sure%3F");
        QTest::newRow("typographic") << u"Ana’s Mac"_s << QByteArray("Ana%E2%80%99s%20Mac");
        QTest::newRow("unreserved stay") << u"a-b_c.d~e"_s << QByteArray("a-b_c.d~e");
    }

    void deviceNameSurvivesEveryDecoder()
    {
        QFETCH(QString, deviceName);
        QFETCH(QByteArray, encoded);
        const auto url = PairingSecurity::connectionURL(QUrl(u"https://service.example"_s), fixedRequest(),
                                                        deviceName, u"0.3.0"_s, std::nullopt, std::nullopt);
        QVERIFY(url);
        // What reaches the browser is the fully encoded form.
        const QUrl sent = QUrl::fromEncoded(url->toEncoded());
        QCOMPARE(rawValue(sent, "deviceName"), encoded);
        QCOMPARE(queryItems(sent).at(0).second, deviceName);
        QCOMPARE(formDecoded(rawValue(sent, "deviceName")), deviceName);
        QCOMPARE(queryItems(sent).size(), 6);
    }

    void validateCallback_data()
    {
        QTest::addColumn<QString>("url");
        QTest::addColumn<std::optional<PairingValidationError>>("error");
        const QString state = u"state="_s + expectedState;
        const QString code = u"code="_s + goodCode;
        const auto accepted = std::optional<PairingValidationError>();
        const auto invalid = std::optional(PairingValidationError::invalidCallback);
        const auto mismatch = std::optional(PairingValidationError::stateMismatch);
        const auto missing = std::optional(PairingValidationError::missingCode);

        QTest::newRow("good") << u"tarnwick://auth/callback?%1&%2"_s.arg(state, code) << accepted;
        QTest::newRow("items in any order, others ignored")
            << u"tarnwick://auth/callback?x=1&%2&%1&y"_s.arg(state, code) << accepted;
        QTest::newRow("trailing slash") << u"tarnwick://auth/callback/?%1&%2"_s.arg(state, code) << accepted;
        QTest::newRow("encoded path") << u"tarnwick://auth/%63allback?"_s + state + u"&"_s + code << accepted;
        // Scheme and host are case-insensitive in every URL; the path is not.
        QTest::newRow("upper-case scheme and host")
            << u"TARNWICK://AUTH/callback?%1&%2"_s.arg(state, code) << accepted;
        QTest::newRow("encoded name") << u"tarnwick://auth/callback?%73tate="_s + expectedState + u"&"_s + code
                                      << accepted;

        QTest::newRow("other scheme") << u"https://auth/callback?%1&%2"_s.arg(state, code) << invalid;
        QTest::newRow("other host") << u"tarnwick://evil/callback?%1&%2"_s.arg(state, code) << invalid;
        QTest::newRow("other path") << u"tarnwick://auth/callbacks?%1&%2"_s.arg(state, code) << invalid;
        QTest::newRow("path case") << u"tarnwick://auth/Callback?%1&%2"_s.arg(state, code) << invalid;
        QTest::newRow("nested path") << u"tarnwick://auth/x/callback?%1&%2"_s.arg(state, code) << invalid;
        QTest::newRow("no authority") << u"tarnwick:auth/callback?%1&%2"_s.arg(state, code) << invalid;
        QTest::newRow("empty") << QString() << invalid;
        QTest::newRow("garbage") << u"\u0000\uFFFF\u0025\u0025://??"_s << invalid;

        QTest::newRow("no query") << u"tarnwick://auth/callback"_s << mismatch;
        QTest::newRow("empty query") << u"tarnwick://auth/callback?"_s << mismatch;
        QTest::newRow("other state") << u"tarnwick://auth/callback?state=x&%1"_s.arg(code) << mismatch;
        QTest::newRow("state without value") << u"tarnwick://auth/callback?state&%1"_s.arg(code) << mismatch;
        QTest::newRow("state case") << u"tarnwick://auth/callback?state=%1&%2"_s.arg(expectedState.toLower(), code)
                                    << mismatch;
        QTest::newRow("wrong state, no code") << u"tarnwick://auth/callback?state=x"_s << mismatch;
        QTest::newRow("repeated state") << u"tarnwick://auth/callback?%1&%1&%2"_s.arg(state, code) << mismatch;
        QTest::newRow("repeated state, second other")
            << u"tarnwick://auth/callback?%1&state=x&%2"_s.arg(state, code) << mismatch;

        QTest::newRow("no code") << u"tarnwick://auth/callback?%1"_s.arg(state) << missing;
        QTest::newRow("code without value") << u"tarnwick://auth/callback?%1&code"_s.arg(state) << missing;
        QTest::newRow("42 characters") << u"tarnwick://auth/callback?%1&code=%2"_s.arg(state, goodCode.left(42))
                                       << missing;
        QTest::newRow("44 characters") << u"tarnwick://auth/callback?%1&code=%2x"_s.arg(state, goodCode) << missing;
        QTest::newRow("dot in code")
            << u"tarnwick://auth/callback?%1&code=%2."_s.arg(state, goodCode.left(42)) << missing;
        QTest::newRow("plus in code")
            << u"tarnwick://auth/callback?"_s + state + u"&code="_s + goodCode.left(42) + u"%2B"_s << missing;
        QTest::newRow("line feed after code")
            << u"tarnwick://auth/callback?"_s + state + u"&"_s + code + u"%0A"_s << missing;
        QTest::newRow("non-ASCII letter")
            << u"tarnwick://auth/callback?"_s + state + u"&code="_s + goodCode.left(42) + u"%C3%A9"_s << missing;
        QTest::newRow("repeated code") << u"tarnwick://auth/callback?%1&%2&%2"_s.arg(state, code) << missing;
    }

    void validateCallback()
    {
        QFETCH(QString, url);
        QFETCH(std::optional<PairingValidationError>, error);
        const auto result = PairingSecurity::validateCallback(QUrl(url), expectedState);
        if (error) {
            QVERIFY(!result);
            QCOMPARE(int(result.error()), int(*error));
        } else {
            QVERIFY(result.has_value());
            QCOMPARE(*result, goodCode);
        }
    }

    void anEmptyExpectedStateMatchesNothing()
    {
        const auto result = PairingSecurity::validateCallback(
            QUrl(u"tarnwick://auth/callback?state=&code="_s + goodCode), QString());
        QVERIFY(!result);
        QCOMPARE(int(result.error()), int(PairingValidationError::stateMismatch));
    }

    void errorTexts()
    {
        QCOMPARE(description(PairingValidationError::invalidCallback),
                 u"The browser returned an invalid connection link."_s);
        QCOMPARE(description(PairingValidationError::stateMismatch),
                 u"The connection response did not match this Mac."_s);
        QCOMPARE(description(PairingValidationError::missingCode),
                 u"The connection response did not include a code."_s);
        QCOMPARE(toError(PairingValidationError::missingCode).description,
                 description(PairingValidationError::missingCode));
    }
};

QTEST_GUILESS_MAIN(TestPairingSecurity)
#include "tst_pairingsecurity.moc"
