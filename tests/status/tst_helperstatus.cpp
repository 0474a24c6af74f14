#include "status/HelperStatus.h"
#include "common/JsonObjectReader.h"

#include <QFile>
#include <QTest>
#include <QTimeZone>

namespace {

QByteArray dataFile(const QString &name)
{
    QFile file(QStringLiteral(TESTS_DATA_DIR "/status/") + name);
    if (!file.open(QIODevice::ReadOnly))
        qFatal("missing test data %s", qPrintable(name));
    return file.readAll();
}

QDateTime utc(const char *text)
{
    return QDateTime::fromString(QString::fromLatin1(text), Qt::ISODate).toUTC();
}

const QDateTime heartbeat = utc("2026-01-31T09:15:00Z");

} // namespace

class HelperStatusTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void encodesByteForByte_data();
    void encodesByteForByte();
    void decodesWhatItWrites_data();
    void decodesWhatItWrites();
    void heartbeatIsWrittenInWholeUtcSeconds_data();
    void heartbeatIsWrittenInWholeUtcSeconds();
    void invalidHeartbeatIsLeftOut();
    void decodesLenientForms();
    void decodedErrorIsTakenAsWritten();
    void rejects_data();
    void rejects();
    void freshness_data();
    void freshness();
};

void HelperStatusTest::encodesByteForByte_data()
{
    QTest::addColumn<HelperStatus>("status");
    QTest::addColumn<QString>("golden");

    QTest::newRow("state only") << HelperStatus(HelperStatus::State::starting) << QStringLiteral("starting.json");
    QTest::newRow("all fields")
        << HelperStatus(HelperStatus::State::needsAttention, heartbeat,
                        QStringLiteral("The runner stopped unexpectedly. Restarting shortly."))
        << QStringLiteral("needs-attention.json");
    QTest::newRow("slashes, quotes, non-ASCII")
        << HelperStatus(HelperStatus::State::connected, utc("1999-12-31T23:59:59Z"),
                        QStringLiteral("Could not read /home/ada/.local/share/Tarnwick: \"denied\" – état"))
        << QStringLiteral("escapes.json");
}

void HelperStatusTest::encodesByteForByte()
{
    QFETCH(HelperStatus, status);
    QFETCH(QString, golden);

    QCOMPARE(status.encoded(), dataFile(golden));
}

void HelperStatusTest::decodesWhatItWrites_data()
{
    encodesByteForByte_data();
}

void HelperStatusTest::decodesWhatItWrites()
{
    QFETCH(HelperStatus, status);
    QFETCH(QString, golden);

    const auto decoded = HelperStatus::decode(dataFile(golden));
    QVERIFY2(decoded, decoded ? "" : qPrintable(decoded.error().description));
    QCOMPARE(*decoded, status);
}

void HelperStatusTest::heartbeatIsWrittenInWholeUtcSeconds_data()
{
    QTest::addColumn<QDateTime>("date");

    QTest::newRow("milliseconds are dropped") << heartbeat.addMSecs(999);
    QTest::newRow("offset zone") << heartbeat.toTimeZone(QTimeZone(2 * 3600));
    QTest::newRow("local time") << heartbeat.toLocalTime();
}

void HelperStatusTest::heartbeatIsWrittenInWholeUtcSeconds()
{
    QFETCH(QDateTime, date);

    QCOMPARE(HelperStatus(HelperStatus::State::connected, date).encoded(),
             QByteArray(R"({"lastHeartbeat":"2026-01-31T09:15:00Z","state":"connected"})"));
}

void HelperStatusTest::invalidHeartbeatIsLeftOut()
{
    const HelperStatus status(HelperStatus::State::connected, QDateTime());

    QCOMPARE(status.lastHeartbeat(), std::nullopt);
    QCOMPARE(status.encoded(), QByteArray(R"({"state":"connected"})"));
}

void HelperStatusTest::decodesLenientForms()
{
    const auto decoded = HelperStatus::decode(
        R"({"version":3,"state":"stopped","lastHeartbeat":null,"error":null,"extra":{"a":[1]}})");
    QVERIFY2(decoded, decoded ? "" : qPrintable(decoded.error().description));
    QCOMPARE(*decoded, HelperStatus(HelperStatus::State::stopped));

    const auto plainSlashes = HelperStatus::decode(R"({"state":"connected","error":"a/b"})");
    QVERIFY(plainSlashes);
    QCOMPARE(plainSlashes->error(), QStringLiteral("a/b"));
}

void HelperStatusTest::decodedErrorIsTakenAsWritten()
{
    const QString secret = QStringLiteral("Authorization: Bearer abc.def");

    const auto decoded = HelperStatus::decode(R"({"state":"needsAttention","error":"Authorization: Bearer abc.def"})");
    QVERIFY(decoded);
    QCOMPARE(decoded->error(), secret);
    QCOMPARE(HelperStatus(HelperStatus::State::needsAttention, std::nullopt, secret).error(),
             QStringLiteral("Authorization: [REDACTED]"));
}

void HelperStatusTest::rejects_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("code");

    const auto corrupted = int(JsonObjectReader::dataCorrupted);
    const auto mismatch = int(JsonObjectReader::typeMismatch);

    QTest::newRow("empty file") << QByteArray() << corrupted;
    QTest::newRow("half a file") << dataFile(QStringLiteral("needs-attention.json")).left(40) << corrupted;
    QTest::newRow("an array") << QByteArray(R"([{"state":"connected"}])") << mismatch;
    QTest::newRow("no state") << QByteArray(R"({"lastHeartbeat":"2026-01-31T09:15:00Z"})")
                              << int(JsonObjectReader::keyNotFound);
    QTest::newRow("state null") << QByteArray(R"({"state":null})") << int(JsonObjectReader::valueNotFound);
    QTest::newRow("state running") << QByteArray(R"({"state":"running"})") << corrupted;
    QTest::newRow("state in other case") << QByteArray(R"({"state":"Connected"})") << corrupted;
    QTest::newRow("state a number") << QByteArray(R"({"state":1})") << mismatch;
    QTest::newRow("error a number") << QByteArray(R"({"state":"stopped","error":5})") << mismatch;
    QTest::newRow("heartbeat a number") << QByteArray(R"({"state":"connected","lastHeartbeat":1769850900})")
                                        << mismatch;
    for (const char *date : {"2026-01-31T09:15:00.000Z", "2026-01-31T09:15:00+00:00", "2026-01-31T11:15:00+02:00",
                             "2026-01-31T09:15Z", "2026-01-31 09:15:00Z", "2026-01-31T09:15:00", "2026-01-31T09:15:00z",
                             "2026-13-31T09:15:00Z", "2026-02-30T09:15:00Z", "2026-01-31T24:00:00Z", "20260131T091500Z",
                             " 2026-01-31T09:15:00Z", ""}) {
        QTest::addRow("heartbeat \"%s\"", date)
            << QByteArray(R"({"state":"connected","lastHeartbeat":")") + date + "\"}" << corrupted;
    }
}

void HelperStatusTest::rejects()
{
    QFETCH(QByteArray, bytes);
    QFETCH(int, code);

    const auto decoded = HelperStatus::decode(bytes);
    QVERIFY(!decoded);
    QCOMPARE(decoded.error().domain, QStringLiteral("JSONDecoding"));
    QCOMPARE(decoded.error().code, code);
}

void HelperStatusTest::freshness_data()
{
    QTest::addColumn<HelperStatus::State>("state");
    QTest::addColumn<std::optional<QDateTime>>("lastHeartbeat");
    QTest::addColumn<bool>("fresh");

    using State = HelperStatus::State;
    const QDateTime now = heartbeat;
    QTest::newRow("45 s old") << State::connected << std::optional(now.addSecs(-45)) << true;
    QTest::newRow("45.001 s old") << State::connected << std::optional(now.addMSecs(-45001)) << false;
    QTest::newRow("46 s old") << State::connected << std::optional(now.addSecs(-46)) << false;
    QTest::newRow("just written") << State::connected << std::optional(now) << true;
    QTest::newRow("from the future") << State::connected << std::optional(now.addSecs(3600)) << true;
    QTest::newRow("no heartbeat") << State::connected << std::optional<QDateTime>() << false;
    QTest::newRow("starting") << State::starting << std::optional(now) << false;
    QTest::newRow("needs attention") << State::needsAttention << std::optional(now) << false;
    QTest::newRow("stopped") << State::stopped << std::optional(now) << false;
}

void HelperStatusTest::freshness()
{
    QFETCH(HelperStatus::State, state);
    QFETCH(std::optional<QDateTime>, lastHeartbeat);
    QFETCH(bool, fresh);

    QCOMPARE(HelperStatus(state, lastHeartbeat).isFresh(heartbeat, 45), fresh);
}

QTEST_GUILESS_MAIN(HelperStatusTest)
#include "tst_helperstatus.moc"
