#include "config/AppPaths.h"
#include "status/StatusStore.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <sys/stat.h>
#include <thread>

namespace {

QByteArray contentsOf(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void writeRaw(const QString &path, const QByteArray &bytes)
{
    QVERIFY(QDir().mkpath(QFileInfo(path).absolutePath()));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(bytes);
    file.close();
    QVERIFY(file.setPermissions(QFile::Permissions(0x6644)));
}

const QDateTime heartbeat = QDateTime(QDate(2026, 1, 31), QTime(9, 15), Qt::UTC);

} // namespace

// The store at the place both programs use: $XDG_DATA_HOME/Tarnwick/status.json of the test's own folders.
class StatusStoreTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void noFileLoadsAsAbsent();
    void savesOwnerOnlyAndRoundTrips_data();
    void savesOwnerOnlyAndRoundTrips();
    void failedLoadLeavesTheFileAlone();
    void readerNeverSeesAPartialFile();

private:
    std::unique_ptr<QTemporaryDir> m_dataHome;
};

void StatusStoreTest::init()
{
    m_dataHome = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dataHome->isValid());
    qputenv("XDG_DATA_HOME", QFile::encodeName(m_dataHome->path()));
}

void StatusStoreTest::noFileLoadsAsAbsent()
{
    const auto loaded = StatusStore(AppPaths::status()).load();

    QVERIFY(loaded);
    QVERIFY(!loaded->has_value());
    QVERIFY(!QFileInfo::exists(AppPaths::applicationSupportDirectory()));
}

void StatusStoreTest::savesOwnerOnlyAndRoundTrips_data()
{
    QTest::addColumn<bool>("existing");

    QTest::newRow("new file in a new directory") << false;
    QTest::newRow("over a 0644 file") << true;
}

void StatusStoreTest::savesOwnerOnlyAndRoundTrips()
{
    QFETCH(bool, existing);
    if (existing)
        writeRaw(AppPaths::status(), R"({"state":"stopped"})");
    const StatusStore store(AppPaths::status());
    const HelperStatus status(HelperStatus::State::needsAttention, heartbeat, QStringLiteral("Bearer abc"));

    QVERIFY(store.save(status));

    struct stat info {};
    QCOMPARE(::stat(QFile::encodeName(AppPaths::status()).constData(), &info), 0);
    QCOMPARE(info.st_mode & 07777, mode_t(0600));
    QCOMPARE(contentsOf(AppPaths::status()),
             QByteArray(R"({"error":"[REDACTED]","lastHeartbeat":"2026-01-31T09:15:00Z","state":"needsAttention"})"));
    const auto loaded = store.load();
    QVERIFY(loaded && loaded->has_value());
    QCOMPARE(**loaded, status);
}

void StatusStoreTest::failedLoadLeavesTheFileAlone()
{
    writeRaw(AppPaths::status(), R"({"state":"running"})");

    const auto loaded = StatusStore(AppPaths::status()).load();

    QVERIFY(!loaded);
    QCOMPARE(loaded.error().domain, QStringLiteral("JSONDecoding"));
    QCOMPARE(contentsOf(AppPaths::status()), QByteArray(R"({"state":"running"})"));
}

// One thread rewrites the file with statuses of very different sizes while this one keeps reading it:
// every read must find a whole status, never a missing, empty or cut-off file.
void StatusStoreTest::readerNeverSeesAPartialFile()
{
    const StatusStore store(AppPaths::status());
    const HelperStatus shortStatus(HelperStatus::State::starting);
    const HelperStatus longStatus(HelperStatus::State::needsAttention, heartbeat,
                                  QString::fromUtf8("Überprüfung fehlgeschlagen – ").repeated(20));
    QVERIFY(store.save(shortStatus));

    constexpr int writes = 60;
    std::atomic<bool> writing = true;
    std::atomic<int> failedWrites = 0;
    std::thread writer([&] {
        for (int i = 0; i < writes; ++i) {
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
             QStringList{QStringLiteral("status.json")});
}

QTEST_GUILESS_MAIN(StatusStoreTest)
#include "tst_statusstore.moc"
