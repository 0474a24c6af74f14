#include "credentials/DeviceCredentialParser.h"
#include "status/StatusRedactor.h"

#include <QTest>

namespace {

const QString uuid = QStringLiteral("3F2504E0-4F89-41D3-9A0C-0305E82C3301");
// 43 characters of the plain alphabet: letters, digits, "_" and "-".
const QString secret = QStringLiteral("abcdefghijklmnopqrstuvwxyz_ABCDEFGHI-012345");

QString token(const QString &id, const QString &secretText = secret)
{
    return QStringLiteral("twk_device_") + id + u'.' + secretText;
}

// The secret with its last `count` characters replaced by `tail`.
QString endingWith(const QString &tail, qsizetype count)
{
    return token(uuid, secret.chopped(count) + tail);
}

}

class TestDeviceCredentialParser : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void deviceId_data()
    {
        QTest::addColumn<QString>("token");
        QTest::addColumn<std::optional<QUuid>>("deviceId");
        const std::optional<QUuid> id = QUuid(uuid);
        const std::optional<QUuid> none;
        QTest::newRow("upper-case uuid") << token(uuid) << id;
        QTest::newRow("letters of other scripts") << endingWith(QStringLiteral("éжλ漢"), 4) << id;
        QTest::newRow("letter outside the BMP") << endingWith(QStringLiteral("𝒜"), 1) << id;
        QTest::newRow("joiner, selector, modifier and mark: one cluster")
            << endingWith(QStringLiteral("a\u200D\uFE0F\U0001F3FB\u0301"), 1) << id;
        // 129 UTF-16 units: the redactor's first window of 128 ends inside a cluster, on a surrogate pair.
        QTest::newRow("every letter with a modifier") << token(uuid, QStringLiteral("a\U0001F3FB").repeated(43)) << id;

        QTest::newRow("upper-case prefix") << token(uuid).replace(0, 11, QStringLiteral("TWK_DEVICE_")) << none;
        QTest::newRow("42 characters") << token(uuid, secret.chopped(1)) << none;
        QTest::newRow("44 characters") << token(uuid, secret + u'a') << none;
        QTest::newRow("plus") << endingWith(QStringLiteral("+"), 1) << none;
        QTest::newRow("lone combining mark") << token(uuid, QStringLiteral("\u0301") + secret.sliced(1)) << none;
        QTest::newRow("no separator") << QStringLiteral("twk_device_") + uuid + secret << none;
        QTest::newRow("third piece") << token(uuid) + QStringLiteral(".abc") << none;
        QTest::newRow("not a uuid") << token(QStringLiteral("device-1")) << none;
    }

    // Whatever the parser accepts as a credential, the redactor removes whole from any text.
    void deviceId()
    {
        QFETCH(QString, token);
        QFETCH(std::optional<QUuid>, deviceId);
        QCOMPARE(DeviceCredentialParser::deviceId(token), deviceId);
        if (deviceId)
            QCOMPARE(StatusRedactor::redact(QStringLiteral("saw ") + token + QStringLiteral(" here")),
                     QStringLiteral("saw [REDACTED] here"));
    }
};

QTEST_APPLESS_MAIN(TestDeviceCredentialParser)
#include "tst_devicecredentialparser.moc"
