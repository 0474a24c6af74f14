#include "pairing/PairingSecurity.h"

#include <QRegularExpression>
#include <QTest>

namespace {

const QString expectedState = QStringLiteral("Zm9vYmFyYmF6cXV4cXV1eHF1dXhxdXV4cXV1eHF1dXg");
const QString goodCode = QStringLiteral("abcdefghijklmnopqrstuvwxyzABCDEFGHIJ0123-_9");
const PairingRequest fixedRequest{QStringLiteral("dBjftJeZ4CVP-mB92K27uhbUJU1p1r_wW1gFWFOEjXk"),
                                  QStringLiteral("E9Melhoa2OwvFrEMTJguCHaoeK1t8URWbuGJSstw-cM"), expectedState};

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
        static const QRegularExpression base64url(QStringLiteral("^[A-Za-z0-9_-]{43}$"));
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
        QTest::addColumn<std::optional<QString>>("clientBuild");
        QTest::addColumn<std::optional<QUuid>>("existingDeviceId");
        // The address after ".../connect/mac"; <common> stands for the items between the name and the build.
        QTest::addColumn<QString>("sent");
        QTest::newRow("re-connecting, delimiters")
            << QStringLiteral("A&B=C+D#E") << std::optional(QStringLiteral("10"))
            << std::optional(QUuid(QStringLiteral("0f8fad5b-d9cb-469f-a165-70867728950e")))
            << QStringLiteral("/10?deviceName=A%26B%3DC%2BD%23E<common>&clientBuild=10"
                              "&existingDeviceId=0F8FAD5B-D9CB-469F-A165-70867728950E");
        QTest::newRow("first pairing, typographic")
            << QStringLiteral("Ana’s Mac") << std::optional(QStringLiteral("10")) << std::optional<QUuid>()
            << QStringLiteral("/10?deviceName=Ana%E2%80%99s%20Mac<common>&clientBuild=10");
        QTest::newRow("no build, unreserved stay")
            << QStringLiteral("a-b_c.d~e") << std::optional<QString>() << std::optional<QUuid>()
            << QStringLiteral("?deviceName=a-b_c.d~e<common>");
    }

    void connectionURL()
    {
        QFETCH(QString, deviceName);
        QFETCH(std::optional<QString>, clientBuild);
        QFETCH(std::optional<QUuid>, existingDeviceId);
        QFETCH(QString, sent);
        const QString common = QStringLiteral("&platform=macos&architecture=arm64&appVersion=0.3.0&codeChallenge=")
                               + fixedRequest.challenge + QStringLiteral("&state=") + fixedRequest.state;

        const auto url =
            PairingSecurity::connectionURL(QUrl(QStringLiteral("https://service.example/base")), fixedRequest,
                                           deviceName, QStringLiteral("0.3.0"), clientBuild, existingDeviceId);

        QCOMPARE(url.value_or(QUrl()).toEncoded(), (QStringLiteral("https://service.example/base/connect/mac")
                                                    + sent.replace(QStringLiteral("<common>"), common))
                                                       .toLatin1());
    }

    void validateCallback_data()
    {
        QTest::addColumn<QString>("url");
        QTest::addColumn<std::optional<PairingValidationError>>("error");
        QTest::addColumn<QString>("expected"); // the attempt's state
        const QString state = QStringLiteral("state=") + expectedState;
        const QString code = QStringLiteral("code=") + goodCode;
        const QString both = QStringLiteral("?%1&%2").arg(state, code);
        const auto accepted = std::optional<PairingValidationError>();
        const auto invalid = std::optional(PairingValidationError::invalidCallback);
        const auto mismatch = std::optional(PairingValidationError::stateMismatch);
        const auto missing = std::optional(PairingValidationError::missingCode);
        const QString callback = QStringLiteral("tarnwick://auth/callback");
        const auto row = [](const char *name, const QString &url, std::optional<PairingValidationError> error,
                            const QString &expected = expectedState) {
            QTest::newRow(name) << url << error << expected;
        };

        row("any order, others ignored", callback + QStringLiteral("?x=1&%2&%1&y").arg(state, code), accepted);
        row("trailing slash", callback + QStringLiteral("/") + both, accepted);
        // Scheme and host are compared as QUrl normalises them (lower case); the path keeps its case.
        row("upper-case scheme and host", QStringLiteral("TARNWICK://AUTH/callback") + both, accepted);
        row("encoded name", callback + QStringLiteral("?%73tate=") + expectedState + QStringLiteral("&") + code,
            accepted);
        row("other scheme", QStringLiteral("https://auth/callback") + both, invalid);
        row("other host", QStringLiteral("tarnwick://evil/callback") + both, invalid);
        row("path case", QStringLiteral("tarnwick://auth/Callback") + both, invalid);
        row("state case", callback + QStringLiteral("?state=%1&%2").arg(expectedState.toLower(), code), mismatch);
        row("repeated state, second other", callback + QStringLiteral("?%1&state=x&%2").arg(state, code), mismatch);
        row("empty state expected", callback + QStringLiteral("?state=&") + code, mismatch, QString());
        row("no code", callback + QStringLiteral("?") + state, missing);
        row("42 characters", callback + QStringLiteral("?%1&code=%2").arg(state, goodCode.left(42)), missing);
        row("plus in code",
            callback + QStringLiteral("?%1&code=").arg(state) + goodCode.left(42) + QStringLiteral("%2B"), missing);
        row("repeated code", callback + both + QStringLiteral("&") + code, missing);
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
