#include "status/StatusRedactor.h"

#include <QTest>

namespace {

const QString uuid = QStringLiteral("3F2504E0-4F89-41D3-9A0C-0305E82C3301");
const QString redacted = QStringLiteral("[REDACTED]");

QString deviceToken(const QString &identifier, qsizetype secretLength, QChar secretCharacter = u'k')
{
    return QStringLiteral("twk_device_") + identifier + u'.' + QString(secretLength, secretCharacter);
}

QString repeated(const char *text, qsizetype count)
{
    return QString::fromUtf8(text).repeated(count);
}

// A row whose text comes back unchanged.
void stays(const char *name, const QString &text)
{
    QTest::newRow(name) << text << text;
}

} // namespace

class StatusRedactorTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void redacts_data();
    void redacts();
    void cutsToWholeCharacters_data();
    void cutsToWholeCharacters();
};

void StatusRedactorTest::redacts_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("expected");

    stays("nothing secret", QStringLiteral("Runner exited with status 1"));
    stays("empty", QString());

    // Device credential tokens
    QTest::newRow("token, 43-character secret") << deviceToken(uuid, 43) << redacted;
    QTest::newRow("token, lower-case identifier") << deviceToken(uuid.toLower(), 43) << redacted;
    QTest::newRow("token, 20-character secret") << deviceToken(uuid, 20) << redacted;
    stays("token, 19-character secret", deviceToken(uuid, 19));
    stays("token, 35-character identifier", deviceToken(uuid.left(35), 43));
    stays("token, 37-character identifier", deviceToken(uuid + u'A', 43));
    stays("token, upper-case prefix", deviceToken(uuid, 43).toUpper());
    QTest::newRow("token inside a sentence")
        << QStringLiteral("rejected ") + deviceToken(uuid, 43) + QStringLiteral(", retrying")
        << QStringLiteral("rejected [REDACTED], retrying");
    QTest::newRow("token secret ends at a non-token character")
        << deviceToken(uuid, 30) + QStringLiteral("+/=tail") << QStringLiteral("[REDACTED]+/=tail");
    QTest::newRow("token, secret in other scripts") << deviceToken(uuid, 43, u'ж') << redacted;
    QTest::newRow("token, Arabic-Indic digits") << deviceToken(uuid, 43, QChar(0x0663)) << redacted;
    QTest::newRow("token, letters with combining marks")
        << QStringLiteral("twk_device_") + uuid + u'.' + QStringLiteral("e\u0301").repeated(43) + QStringLiteral(" end")
        << QStringLiteral("[REDACTED] end");
    QTest::newRow("token with a short secret behind a key word")
        << QStringLiteral("token: ") + deviceToken(uuid, 5) + QStringLiteral(" end")
        << QStringLiteral("[REDACTED] end");

    // Bearer values
    QTest::newRow("Bearer keeps the text before it")
        << QStringLiteral("HTTP 401 for Authorization: Bearer abc.DEF-123_x now")
        << QStringLiteral("HTTP 401 for Authorization: [REDACTED] now");
    QTest::newRow("bearer lower case") << QStringLiteral("bearer abc") << redacted;
    QTest::newRow("BEARER upper case") << QStringLiteral("BEARER abc") << redacted;
    QTest::newRow("BeArEr, tab and newline") << QStringLiteral("BeArEr\t\n abc") << redacted;
    QTest::newRow("Bearer, no-break space") << QStringLiteral("Bearer\u00A0abc") << redacted;
    QTest::newRow("Bearer value ends at +") << QStringLiteral("Bearer abc+def") << QStringLiteral("[REDACTED]+def");
    stays("Bearer alone", QStringLiteral("Bearer  "));
    stays("Bearer glued to its value", QStringLiteral("Bearerabc"));
    stays("U+180E is not a space", QStringLiteral("Bearer\u180Eabc"));

    // Assignments to key words
    QTest::newRow("api-key keeps what follows") << QStringLiteral("config api-key=v1_abc and more words")
                                                << QStringLiteral("config [REDACTED] and more words");
    QTest::newRow("api_key colon") << QStringLiteral("api_key: v") << redacted;
    QTest::newRow("api key spaced") << QStringLiteral("API KEY = v") << redacted;
    QTest::newRow("apikey joined") << QStringLiteral("ApiKey=v") << redacted;
    stays("api--key", QStringLiteral("api--key=v"));
    QTest::newRow("Token colon") << QStringLiteral("Token: abc") << redacted;
    QTest::newRow("secret takes the punctuation")
        << QStringLiteral("secret = hunter2, next") << QStringLiteral("[REDACTED] next");
    QTest::newRow("CREDENTIAL") << QStringLiteral("CREDENTIAL:x") << redacted;
    QTest::newRow("inside a longer word") << QStringLiteral("access_token=abc") << QStringLiteral("access_[REDACTED]");
    stays("key word then other letters", QStringLiteral("tokens=abc"));
    stays("no value", QStringLiteral("token: "));
    QTest::newRow("value on the next line")
        << QStringLiteral("secret:\n\nabc rest") << QStringLiteral("[REDACTED] rest");
    QTest::newRow("every assignment") << QStringLiteral("token=a secret=b") << QStringLiteral("[REDACTED] [REDACTED]");

    // Text that is not valid UTF-16 is still searched
    QTest::newRow("unpaired surrogates")
        << QChar(0xDC00) + QStringLiteral("Bearer abc ") + QChar(0xD800) + QStringLiteral(" token=xyz ") + QChar(0xD800)
        << QStringLiteral("\uFFFD[REDACTED] \uFFFD [REDACTED] \uFFFD");
    stays("a valid pair", QString::fromUtf8("token \U0001F600"));

    // Patterns run in order on each other's results
    QTest::newRow("token: Bearer collapses") << QStringLiteral("token: Bearer abc") << redacted;
    QTest::newRow("credential: device token collapses")
        << QStringLiteral("Credential: ") + deviceToken(uuid, 43) << redacted;
    QTest::newRow("redacted before the cut")
        << QString(495, u'a') + QStringLiteral(" token=") + QString(100, u'v')
        << QString(495, u'a') + QStringLiteral(" [RED");
}

void StatusRedactorTest::redacts()
{
    QFETCH(QString, text);
    QFETCH(QString, expected);

    QCOMPARE(StatusRedactor::redact(text), expected);
}

void StatusRedactorTest::cutsToWholeCharacters_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("expected");

    const QString a499(499, u'a');
    QTest::newRow("600 characters") << QString(600, u'x') << QString(500, u'x');
    stays("exactly 500", QString(500, u'x'));
    QTest::newRow("family emoji") << a499 + repeated("👨‍👩‍👧‍👦", 2) << a499 + repeated("👨‍👩‍👧‍👦", 1);
    QTest::newRow("flags") << a499 + QString::fromUtf8("🇫🇷🇩🇪") << a499 + QString::fromUtf8("🇫🇷");
    QTest::newRow("skin tone") << a499 + repeated("👍🏽", 3) << a499 + repeated("👍🏽", 1);
    QTest::newRow("combining marks") << a499 + QStringLiteral("e\u0301\u0323x") << a499 + QStringLiteral("e\u0301\u0323");
    QTest::newRow("CR LF is one character") << a499 + QStringLiteral("\r\nx") << a499 + QStringLiteral("\r\n");
    QTest::newRow("500 emoji, not 500 code units") << repeated("😀", 600) << repeated("😀", 500);
}

void StatusRedactorTest::cutsToWholeCharacters()
{
    QFETCH(QString, text);
    QFETCH(QString, expected);

    QCOMPARE(StatusRedactor::redact(text), expected);
}

QTEST_GUILESS_MAIN(StatusRedactorTest)
#include "tst_statusredactor.moc"
