#include "TestFiles.h"

#include "common/JsonObjectReader.h"
#include "config/AppPaths.h"
#include "status/StatusRedactor.h"
#include "status/StatusStore.h"

#include <QTest>
#include <QTimeZone>

#include <atomic>
#include <thread>

using State = HelperStatus::State;

namespace {

const QDateTime heartbeat(QDate(2026, 1, 31), QTime(9, 15), Qt::UTC);
const QString uuid = QStringLiteral("3F2504E0-4F89-41D3-9A0C-0305E82C3301");
const QString redacted = QStringLiteral("[REDACTED]");

QByteArray dataFile(const char *name)
{
    return TestFiles::read(QStringLiteral(TESTS_DATA_DIR "/status/") + QLatin1String(name));
}

QString deviceToken(const QString &identifier, qsizetype secretLength)
{
    return QStringLiteral("twk_device_") + identifier + u'.' + QString(secretLength, u'k');
}

} // namespace

// The status file other programs read: its bytes, what is refused, the redaction of its error text, and the
// store at $XDG_DATA_HOME/Tarnwick/status.json. Its freshness is judged in the model's and the policies' tests.
class TestHelperStatus : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init() { QFile::remove(AppPaths::status()); }

    void encodes_data()
    {
        QTest::addColumn<HelperStatus>("status");
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("all fields") << HelperStatus(
            State::needsAttention, heartbeat, QStringLiteral("The runner stopped unexpectedly. Restarting shortly."))
                                    << dataFile("needs-attention.json");
        QTest::newRow("slashes, quotes, non-ASCII")
            << HelperStatus(State::connected, QDateTime(QDate(1999, 12, 31), QTime(23, 59, 59), Qt::UTC),
                            QStringLiteral("Could not read /home/ada/.local/share/Tarnwick: \"denied\" – état"))
            << dataFile("escapes.json");
        QTest::newRow("whole seconds in UTC")
            << HelperStatus(State::connected, heartbeat.addMSecs(999).toTimeZone(QTimeZone(7200)))
            << QByteArray(R"({"lastHeartbeat":"2026-01-31T09:15:00Z","state":"connected"})");
        QTest::newRow("invalid heartbeat left out")
            << HelperStatus(State::connected, QDateTime()) << QByteArray(R"({"state":"connected"})");
        QTest::newRow("error redacted") << HelperStatus(State::stopped, std::nullopt, QStringLiteral("Bearer abc"))
                                        << QByteArray(R"({"error":"[REDACTED]","state":"stopped"})");
    }

    // Fixed bytes, owner-only, read back whole.
    void encodes()
    {
        QFETCH(HelperStatus, status);
        QFETCH(QByteArray, bytes);
        const StatusStore store(AppPaths::status());
        QVERIFY(store.save(status));
        QCOMPARE(TestFiles::read(AppPaths::status()), bytes);
        QCOMPARE(QFile::permissions(AppPaths::status()) & 0x0077, QFile::Permissions());
        const auto loaded = store.load();
        QVERIFY(loaded && loaded->has_value());
        QCOMPARE((*loaded)->encoded(), bytes);
    }

    void rejects_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("code");
        const auto corrupted = int(JsonObjectReader::dataCorrupted);
        QTest::newRow("empty file") << QByteArray() << corrupted;
        QTest::newRow("no state") << QByteArray(R"({"error":"x"})") << int(JsonObjectReader::keyNotFound);
        QTest::newRow("state null") << QByteArray(R"({"state":null})") << int(JsonObjectReader::valueNotFound);
        QTest::newRow("state in other case") << QByteArray(R"({"state":"Connected"})") << corrupted;
        for (const char *date : {"2026-01-31T09:15:00.000Z", "2026-01-31T11:15:00+02:00", "2026-02-30T09:15:00Z"}) {
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
        QCOMPARE(decoded.error().domain, QStringLiteral("JSONDecoding"));
        QCOMPARE(decoded.error().code, code);
    }

    void redacts_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("expected");
        const auto stays = [](const char *name, const QString &text) { QTest::newRow(name) << text << text; };
        QTest::newRow("token, 20-character secret") << deviceToken(uuid, 20) << redacted;
        stays("token, 19-character secret", deviceToken(uuid, 19));
        stays("token, 37-character identifier", deviceToken(uuid + u'A', 43));
        QTest::newRow("token secret ends at a non-token character")
            << deviceToken(uuid, 30) + QStringLiteral("+/=tail") << QStringLiteral("[REDACTED]+/=tail");
        QTest::newRow("token after a head whose secret is short")
            << deviceToken(uuid, 5) + u' ' + deviceToken(uuid, 43) << deviceToken(uuid, 5) + u' ' + redacted;
        QTest::newRow("Bearer keeps the text before it")
            << QStringLiteral("HTTP 401 for Authorization: Bearer abc.DEF-1_x now")
            << QStringLiteral("HTTP 401 for Authorization: [REDACTED] now");
        QTest::newRow("Bearer, no-break space") << QStringLiteral("Bearer\u00A0abc") << redacted;
        QTest::newRow("api-key keeps what follows") << QStringLiteral("config api-key=v1_abc and more words")
                                                    << QStringLiteral("config [REDACTED] and more words");
        QTest::newRow("inside a longer word")
            << QStringLiteral("access_token=abc") << QStringLiteral("access_[REDACTED]");
        QTest::newRow("value on the next line")
            << QStringLiteral("secret:\n\nabc rest") << QStringLiteral("[REDACTED] rest");
        QTest::newRow("unpaired surrogates are still searched")
            << QChar(0xDC00) + QStringLiteral("Bearer abc ") + QChar(0xD800) + QStringLiteral(" token=xyz")
            << QStringLiteral("\uFFFD[REDACTED] \uFFFD [REDACTED]");
        QTest::newRow("patterns run on each other's results")
            << QStringLiteral("Credential: ") + deviceToken(uuid, 43) << redacted;
        QTest::newRow("redacted before the cut") << QString(495, u'a') + QStringLiteral(" token=") + QString(100, u'v')
                                                 << QString(495, u'a') + QStringLiteral(" [RED");
        // Cut to 500 characters as a reader sees them, never inside one.
        const QString a499(499, u'a');
        QTest::newRow("family emoji") << a499 + QStringLiteral("👨‍👩‍👧‍👦👨‍👩‍👧‍👦")
                                      << a499 + QStringLiteral("👨‍👩‍👧‍👦");
        QTest::newRow("500 emoji, not 500 code units")
            << QStringLiteral("😀").repeated(600) << QStringLiteral("😀").repeated(500);
    }

    void redacts()
    {
        QFETCH(QString, text);
        QFETCH(QString, expected);
        QCOMPARE(StatusRedactor::redact(text), expected);
    }

    // One thread rewrites the file with statuses of very different sizes while this one keeps reading it:
    // every read must find a whole status, never a missing, empty or cut-off file.
    void readerNeverSeesAPartialFile()
    {
        const StatusStore store(AppPaths::status());
        const HelperStatus shortStatus(State::starting);
        const HelperStatus longStatus(State::needsAttention, heartbeat, QStringLiteral("Überprüfung – ").repeated(40));
        QVERIFY(store.save(shortStatus));
        std::atomic<bool> writing = true;
        bool allWritten = true; // read only after the join
        std::thread writer([&] {
            for (int i = 0; i < 60; ++i)
                allWritten = store.save(i % 2 ? longStatus : shortStatus) && allWritten;
            writing = false;
        });
        int badReads = 0;
        while (writing) {
            const auto loaded = store.load();
            badReads += !loaded || !loaded->has_value() || (**loaded != shortStatus && **loaded != longStatus);
        }
        writer.join();
        QVERIFY(allWritten);
        QCOMPARE(badReads, 0);
        QCOMPARE(QDir(AppPaths::applicationSupportDirectory()).entryList(QDir::Files | QDir::Hidden),
                 QStringList{QStringLiteral("status.json")});
    }
};

QTEST_GUILESS_MAIN(TestHelperStatus)
#include "tst_helperstatus.moc"
