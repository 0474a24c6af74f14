#include "status/StatusRedactor.h"

#include <QTest>

using namespace Qt::StringLiterals;

namespace {

const QString uuid = u"3F2504E0-4F89-41D3-9A0C-0305E82C3301"_s;
const QString redacted = u"[REDACTED]"_s;

QString deviceToken(const QString &identifier, qsizetype secretLength, QChar secretCharacter = u'k')
{
    return u"twk_device_"_s + identifier + u'.' + QString(secretLength, secretCharacter);
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
    void redacts_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("expected");
        QTest::newRow("token inside a sentence") << u"rejected "_s + deviceToken(uuid.toLower(), 43) + u", retrying"_s
                                                 << u"rejected [REDACTED], retrying"_s;
        QTest::newRow("token, 20-character secret") << deviceToken(uuid, 20) << redacted;
        stays("token, 19-character secret", deviceToken(uuid, 19));
        stays("token, 37-character identifier", deviceToken(uuid + u'A', 43));
        QTest::newRow("token secret ends at a non-token character")
            << deviceToken(uuid, 30) + u"+/=tail"_s << u"[REDACTED]+/=tail"_s;
        QTest::newRow("token, secret in another script") << deviceToken(uuid, 43, u'ж') << redacted;
        QTest::newRow("Bearer keeps the text before it") << u"HTTP 401 for Authorization: Bearer abc.DEF-1_x now"_s
                                                         << u"HTTP 401 for Authorization: [REDACTED] now"_s;
        QTest::newRow("BeArEr, tab and newline") << u"BeArEr\t\n abc"_s << redacted;
        QTest::newRow("Bearer, no-break space") << u"Bearer\u00A0abc"_s << redacted;
        stays("Bearer glued to its value", u"Bearerabc"_s);
        QTest::newRow("api-key keeps what follows") << u"config api-key=v1_abc and more words"_s
                                                    << u"config [REDACTED] and more words"_s;
        QTest::newRow("API KEY spaced") << u"API KEY = v"_s << redacted;
        QTest::newRow("secret takes the punctuation") << u"secret = hunter2, next"_s << u"[REDACTED] next"_s;
        QTest::newRow("inside a longer word") << u"access_token=abc"_s << u"access_[REDACTED]"_s;
        stays("key word then other letters", u"tokens=abc"_s);
        QTest::newRow("value on the next line") << u"secret:\n\nabc rest"_s << u"[REDACTED] rest"_s;
        QTest::newRow("unpaired surrogates are still searched")
            << QChar(0xDC00) + u"Bearer abc "_s + QChar(0xD800) + u" token=xyz"_s
            << u"\uFFFD[REDACTED] \uFFFD [REDACTED]"_s;
        QTest::newRow("patterns run on each other's results") << u"Credential: "_s + deviceToken(uuid, 43)
                                                              << redacted;
        QTest::newRow("redacted before the cut") << QString(495, u'a') + u" token="_s + QString(100, u'v')
                                                 << QString(495, u'a') + u" [RED"_s;
        // Cut to 500 characters as a reader sees them, never inside one.
        const QString a499(499, u'a');
        QTest::newRow("600 letters") << QString(600, u'x') << QString(500, u'x');
        stays("exactly 500", QString(500, u'x'));
        QTest::newRow("family emoji") << a499 + u"👨‍👩‍👧‍👦👨‍👩‍👧‍👦"_s << a499 + u"👨‍👩‍👧‍👦"_s;
        QTest::newRow("flags") << a499 + u"🇫🇷🇩🇪"_s << a499 + u"🇫🇷"_s;
        QTest::newRow("combining marks") << a499 + u"e\u0301\u0323x"_s << a499 + u"e\u0301\u0323"_s;
        QTest::newRow("CR LF") << a499 + u"\r\nx"_s << a499 + u"\r\n"_s;
        QTest::newRow("500 emoji, not 500 code units") << u"😀"_s.repeated(600) << u"😀"_s.repeated(500);
    }

    void redacts()
    {
        QFETCH(QString, text);
        QFETCH(QString, expected);
        QCOMPARE(StatusRedactor::redact(text), expected);
    }
};

QTEST_GUILESS_MAIN(StatusRedactorTest)
#include "tst_statusredactor.moc"
