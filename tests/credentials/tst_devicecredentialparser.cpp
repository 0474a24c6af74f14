#include "credentials/DeviceCredentialParser.h"

#include <QTest>

namespace {

const QString uuidUpper = QStringLiteral("3F2504E0-4F89-41D3-9A0C-0305E82C3301");
const QString uuidLower = uuidUpper.toLower();
// 43 characters of the plain alphabet: letters, digits, "_" and "-".
const QString secret = QStringLiteral("abcdefghijklmnopqrstuvwxyz_ABCDEFGHI-012345");

QString token(const QString &uuid, const QString &secretText)
{
    return QStringLiteral("twk_device_") + uuid + u'.' + secretText;
}

// The plain secret with its last `count` characters replaced by `tail`.
QString secretEndingWith(const QString &tail, qsizetype count)
{
    return secret.chopped(count) + tail;
}

}

class tst_DeviceCredentialParser : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void acceptsWellFormedTokens_data();
    void acceptsWellFormedTokens();
    void rejectsMalformedTokens_data();
    void rejectsMalformedTokens();
};

void tst_DeviceCredentialParser::acceptsWellFormedTokens_data()
{
    QTest::addColumn<QString>("token");
    QTest::addColumn<QUuid>("deviceId");
    const QUuid id(uuidUpper);
    QTest::newRow("upper-case uuid") << token(uuidUpper, secret) << id;
    QTest::newRow("lower-case uuid") << token(uuidLower, secret) << id;
    QTest::newRow("mixed-case uuid") << token(QStringLiteral("3f2504E0-4f89-41D3-9a0c-0305e82C3301"), secret) << id;
    QTest::newRow("all underscores") << token(uuidUpper, QString(43, u'_')) << id;
    QTest::newRow("all hyphens") << token(uuidUpper, QString(43, u'-')) << id;
    QTest::newRow("nil uuid") << token(QStringLiteral("00000000-0000-0000-0000-000000000000"), secret) << QUuid();
    QTest::newRow("latin letters with accents") << token(uuidUpper, secretEndingWith(QStringLiteral("éßÅ"), 3)) << id;
    QTest::newRow("cyrillic and greek") << token(uuidUpper, secretEndingWith(QStringLiteral("жЯλΩ"), 4)) << id;
    QTest::newRow("cjk") << token(uuidUpper, secretEndingWith(QStringLiteral("漢字"), 2)) << id;
    QTest::newRow("arabic-indic and fullwidth digits")
        << token(uuidUpper, secretEndingWith(QStringLiteral("٣٤１"), 3)) << id;
    QTest::newRow("letter outside the BMP") << token(uuidUpper, secretEndingWith(QStringLiteral("𝒜"), 1)) << id;
    QTest::newRow("letter with combining mark counts once")
        << token(uuidUpper, secretEndingWith(QStringLiteral("e\u0301"), 1)) << id;
}

void tst_DeviceCredentialParser::acceptsWellFormedTokens()
{
    QFETCH(QString, token);
    QFETCH(QUuid, deviceId);
    QCOMPARE(DeviceCredentialParser::deviceId(token), std::optional(deviceId));
}

void tst_DeviceCredentialParser::rejectsMalformedTokens_data()
{
    QTest::addColumn<QString>("token");
    const QString valid = token(uuidUpper, secret);
    QTest::newRow("empty") << QString();
    QTest::newRow("prefix only") << QStringLiteral("twk_device_");
    QTest::newRow("upper-case prefix") << token(uuidUpper, secret).replace(0, 11, QStringLiteral("TWK_DEVICE_"));
    QTest::newRow("capitalised prefix") << token(uuidUpper, secret).replace(0, 11, QStringLiteral("Twk_device_"));
    QTest::newRow("other prefix") << token(uuidUpper, secret).replace(0, 11, QStringLiteral("twk_devices"));
    QTest::newRow("no prefix") << uuidUpper + u'.' + secret;
    QTest::newRow("42 characters") << token(uuidUpper, secret.chopped(1));
    QTest::newRow("44 characters") << token(uuidUpper, secret + u'a');
    QTest::newRow("plus") << token(uuidUpper, secretEndingWith(QStringLiteral("+"), 1));
    QTest::newRow("slash") << token(uuidUpper, secretEndingWith(QStringLiteral("/"), 1));
    QTest::newRow("padding") << token(uuidUpper, secretEndingWith(QStringLiteral("="), 1));
    QTest::newRow("space inside") << token(uuidUpper, secretEndingWith(QStringLiteral(" "), 1));
    QTest::newRow("emoji") << token(uuidUpper, secretEndingWith(QStringLiteral("😀"), 1));
    QTest::newRow("lone combining mark") << token(uuidUpper, QStringLiteral("\u0301") + secret.sliced(1));
    QTest::newRow("empty secret") << token(uuidUpper, QString());
    QTest::newRow("no separator") << QStringLiteral("twk_device_") + uuidUpper + secret;
    QTest::newRow("third piece") << valid + QStringLiteral(".abc");
    QTest::newRow("trailing dot") << valid + u'.';
    QTest::newRow("empty middle piece") << QStringLiteral("twk_device_") + uuidUpper + QStringLiteral("..") + secret;
    QTest::newRow("leading space") << u' ' + valid;
    QTest::newRow("trailing space") << valid + u' ';
    QTest::newRow("trailing newline") << valid + u'\n';
    QTest::newRow("not a uuid") << token(QStringLiteral("device-1"), secret);
    QTest::newRow("non-hex digit") << token(QStringLiteral("3G2504E0-4F89-41D3-9A0C-0305E82C3301"), secret);
    QTest::newRow("braced uuid") << token(u'{' + uuidUpper + u'}', secret);
    QTest::newRow("uuid without hyphens") << token(QString(uuidUpper).remove(u'-'), secret);
    QTest::newRow("hyphen misplaced") << token(QStringLiteral("3F2504E04-F89-41D3-9A0C-0305E82C3301"), secret);
    QTest::newRow("uuid one digit short") << token(uuidUpper.chopped(1), secret);
}

void tst_DeviceCredentialParser::rejectsMalformedTokens()
{
    QFETCH(QString, token);
    QCOMPARE(DeviceCredentialParser::deviceId(token), std::optional<QUuid>());
}

QTEST_APPLESS_MAIN(tst_DeviceCredentialParser)
#include "tst_devicecredentialparser.moc"
