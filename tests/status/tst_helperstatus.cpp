#include "common/JsonObjectReader.h"
#include "config/AppPaths.h"
#include "status/StatusStore.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QTimeZone>

#include <atomic>
#include <thread>

using namespace Qt::StringLiterals;

namespace {

QByteArray dataFile(const char *name)
{
    QFile file(QStringLiteral(TESTS_DATA_DIR "/status/") + QLatin1String(name));
    if (!file.open(QIODevice::ReadOnly))
        qFatal("missing test data %s", name);
    return file.readAll();
}

const QDateTime heartbeat(QDate(2026, 1, 31), QTime(9, 15), Qt::UTC);

} // namespace

// The status file: its bytes, its rules, and the store at $XDG_DATA_HOME/Tarnwick/status.json of a temporary
// folder.
class HelperStatusTest : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dataHome;

private Q_SLOTS:
    void initTestCase() { qputenv("XDG_DATA_HOME", QFile::encodeName(m_dataHome.path())); }
    void init() { QFile::remove(AppPaths::status()); }

    // Other programs read this file: the store writes fixed bytes, owner-only, with whole UTC seconds and the
    // error text redacted.
    void encodes_data()
    {
        QTest::addColumn<HelperStatus>("status");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<bool>("roundTrips");
        using State = HelperStatus::State;
        const QByteArray connectedAt = R"({"lastHeartbeat":"2026-01-31T09:15:00Z","state":"connected"})";
        QTest::newRow("state only") << HelperStatus(State::starting) << dataFile("starting.json") << true;
        QTest::newRow("all fields") << HelperStatus(State::needsAttention, heartbeat,
                                                    u"The runner stopped unexpectedly. Restarting shortly."_s)
                                    << dataFile("needs-attention.json") << true;
        QTest::newRow("slashes, quotes, non-ASCII")
            << HelperStatus(State::connected, QDateTime(QDate(1999, 12, 31), QTime(23, 59, 59), Qt::UTC),
                            u"Could not read /home/ada/.local/share/Tarnwick: \"denied\" – état"_s)
            << dataFile("escapes.json") << true;
        QTest::newRow("milliseconds dropped") << HelperStatus(State::connected, heartbeat.addMSecs(999)) << connectedAt
                                              << false;
        QTest::newRow("offset zone") << HelperStatus(State::connected, heartbeat.toTimeZone(QTimeZone(7200)))
                                     << connectedAt << true;
        QTest::newRow("invalid heartbeat left out") << HelperStatus(State::connected, QDateTime())
                                                    << QByteArray(R"({"state":"connected"})") << true;
        QTest::newRow("error redacted") << HelperStatus(State::stopped, std::nullopt, u"Bearer abc"_s)
                                        << QByteArray(R"({"error":"[REDACTED]","state":"stopped"})") << true;
    }

    void encodes()
    {
        QFETCH(HelperStatus, status);
        QFETCH(QByteArray, bytes);
        QFETCH(bool, roundTrips);

        const StatusStore store(AppPaths::status());
        QCOMPARE(store.load().value(), std::nullopt);

        QVERIFY(store.save(status));

        QFile file(AppPaths::status());
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), bytes);
        QCOMPARE(file.permissions() & 0x0077, QFile::Permissions()); // nothing for group and others
        const auto loaded = store.load();
        QVERIFY2(loaded && loaded->has_value(), loaded ? "absent" : qPrintable(loaded.error().description));
        if (roundTrips)
            QCOMPARE(**loaded, status);
    }

    void decodesLenientForms()
    {
        const auto decoded = HelperStatus::decode(
            R"({"version":3,"state":"stopped","lastHeartbeat":null,"error":null,"extra":{"a":[1]}})");
        QVERIFY2(decoded, decoded ? "" : qPrintable(decoded.error().description));
        QCOMPARE(*decoded, HelperStatus(HelperStatus::State::stopped));
    }

    void rejects_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("code");
        const auto corrupted = int(JsonObjectReader::dataCorrupted);
        const auto mismatch = int(JsonObjectReader::typeMismatch);
        QTest::newRow("empty file") << QByteArray() << corrupted;
        QTest::newRow("half a file") << dataFile("needs-attention.json").left(40) << corrupted;
        QTest::newRow("an array") << QByteArray(R"([{"state":"connected"}])") << mismatch;
        QTest::newRow("no state") << QByteArray(R"({"error":"x"})") << int(JsonObjectReader::keyNotFound);
        QTest::newRow("state null") << QByteArray(R"({"state":null})") << int(JsonObjectReader::valueNotFound);
        QTest::newRow("state running") << QByteArray(R"({"state":"running"})") << corrupted;
        QTest::newRow("state in other case") << QByteArray(R"({"state":"Connected"})") << corrupted;
        QTest::newRow("error a number") << QByteArray(R"({"state":"stopped","error":5})") << mismatch;
        QTest::newRow("heartbeat a number") << QByteArray(R"({"state":"connected","lastHeartbeat":1769850900})")
                                            << mismatch;
        for (const char *date : {"2026-01-31T09:15:00.000Z", "2026-01-31T11:15:00+02:00", "2026-01-31T09:15:00",
                                 "2026-02-30T09:15:00Z", "2026-01-31T24:00:00Z", ""}) {
            QTest::addRow("heartbeat \"%s\"", date)
                << QByteArray(R"({"state":"connected","lastHeartbeat":")") + date + "\"}" << corrupted;
        }
    }

    void rejects()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(int, code);

        const auto decoded = HelperStatus::decode(bytes);
        QVERIFY(!decoded);
        QCOMPARE(decoded.error().domain, u"JSONDecoding"_s);
        QCOMPARE(decoded.error().code, code);
    }

    void freshness_data()
    {
        QTest::addColumn<HelperStatus::State>("state");
        QTest::addColumn<std::optional<QDateTime>>("lastHeartbeat");
        QTest::addColumn<bool>("fresh");
        using State = HelperStatus::State;
        QTest::newRow("45 s old") << State::connected << std::optional(heartbeat.addSecs(-45)) << true;
        QTest::newRow("45.001 s old") << State::connected << std::optional(heartbeat.addMSecs(-45001)) << false;
        QTest::newRow("46 s old") << State::connected << std::optional(heartbeat.addSecs(-46)) << false;
        QTest::newRow("from the future") << State::connected << std::optional(heartbeat.addSecs(3600)) << true;
        QTest::newRow("no heartbeat") << State::connected << std::optional<QDateTime>() << false;
        QTest::newRow("starting") << State::starting << std::optional(heartbeat) << false;
        QTest::newRow("needs attention") << State::needsAttention << std::optional(heartbeat) << false;
        QTest::newRow("stopped") << State::stopped << std::optional(heartbeat) << false;
    }

    void freshness()
    {
        QFETCH(HelperStatus::State, state);
        QFETCH(std::optional<QDateTime>, lastHeartbeat);
        QFETCH(bool, fresh);
        QCOMPARE(HelperStatus(state, lastHeartbeat).isFresh(heartbeat, HelperStatus::freshnessWindow), fresh);
    }

    // One thread rewrites the file with statuses of very different sizes while this one keeps reading it:
    // every read must find a whole status, never a missing, empty or cut-off file.
    void readerNeverSeesAPartialFile()
    {
        const StatusStore store(AppPaths::status());
        const HelperStatus shortStatus(HelperStatus::State::starting);
        const HelperStatus longStatus(HelperStatus::State::needsAttention, heartbeat,
                                      u"Überprüfung fehlgeschlagen – "_s.repeated(20));
        QVERIFY(store.save(shortStatus));

        std::atomic<bool> writing = true;
        std::atomic<int> failedWrites = 0;
        std::thread writer([&] {
            for (int i = 0; i < 60; ++i) {
                if (!store.save(i % 2 ? longStatus : shortStatus))
                    ++failedWrites;
            }
            writing = false;
        });
        int reads = 0;
        int badReads = 0;
        while (writing) {
            const auto loaded = store.load();
            if (!loaded || !loaded->has_value() || (**loaded != shortStatus && **loaded != longStatus))
                ++badReads;
            ++reads;
        }
        writer.join();

        QCOMPARE(failedWrites.load(), 0);
        QCOMPARE(badReads, 0);
        QVERIFY(reads > 0);
        QCOMPARE(QDir(AppPaths::applicationSupportDirectory()).entryList(QDir::Files | QDir::Hidden),
                 QStringList{u"status.json"_s});
    }
};

QTEST_GUILESS_MAIN(HelperStatusTest)
#include "tst_helperstatus.moc"
