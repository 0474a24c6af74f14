#include "config/AppPaths.h"
#include "config/FileConfigStore.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

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
    QVERIFY(file.setPermissions(QFile::Permissions(0x6666)));
}

AppConfig sampleConfig()
{
    return AppConfig{QStringLiteral("https://tarnwick.example/"),
                     QUuid::fromString(QStringLiteral("3F2504E0-4F89-41D3-9A0C-0305E82C3301")),
                     QStringLiteral("0.3.0"),
                     {QStringLiteral("/srv/work")},
                     QStringLiteral("/srv/work"),
                     ProviderPaths{std::nullopt, QStringLiteral("/usr/bin/claude")}};
}

} // namespace

// The store at the place both programs use: $XDG_DATA_HOME/Tarnwick/config.json of the test's own folders.
class FileConfigStoreTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void noFileLoadsAsAbsent();
    void saveCreatesTheDirectoryAndRoundTrips();
    void saveTightensWiderPermissions();
    void unknownKeysAreDroppedAtTheNextSave();
    void failedLoadLeavesTheFileAlone_data();
    void failedLoadLeavesTheFileAlone();
    void readErrorsPassThrough();
    void removeTwiceSucceeds();

private:
    std::unique_ptr<QTemporaryDir> m_dataHome;
    FileConfigStore store() const { return FileConfigStore(AppPaths::config()); }
};

void FileConfigStoreTest::init()
{
    m_dataHome = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dataHome->isValid());
    qputenv("XDG_DATA_HOME", QFile::encodeName(m_dataHome->path()));
}

void FileConfigStoreTest::noFileLoadsAsAbsent()
{
    const auto loaded = store().load();

    QVERIFY(loaded);
    QVERIFY(!loaded->has_value());
    QVERIFY(!QFileInfo::exists(AppPaths::applicationSupportDirectory()));
}

void FileConfigStoreTest::saveCreatesTheDirectoryAndRoundTrips()
{
    FileConfigStore configStore = store();
    QVERIFY(configStore.save(sampleConfig()));

    QCOMPARE(contentsOf(AppPaths::config()), sampleConfig().encoded());
    const auto loaded = configStore.load();
    QVERIFY(loaded && loaded->has_value());
    QCOMPARE(**loaded, sampleConfig());
}

void FileConfigStoreTest::saveTightensWiderPermissions()
{
    writeRaw(AppPaths::config(), "{}");

    QVERIFY(store().save(sampleConfig()));

    struct stat info {};
    QCOMPARE(::stat(QFile::encodeName(AppPaths::config()).constData(), &info), 0);
    QCOMPARE(info.st_mode & 07777, mode_t(0600));
}

void FileConfigStoreTest::unknownKeysAreDroppedAtTheNextSave()
{
    QFile lenient(QStringLiteral(TESTS_DATA_DIR "/config/lenient.json"));
    QVERIFY(lenient.open(QIODevice::ReadOnly));
    writeRaw(AppPaths::config(), lenient.readAll());
    FileConfigStore configStore = store();

    const auto loaded = configStore.load();
    QVERIFY(loaded && loaded->has_value());
    QVERIFY(configStore.save(**loaded));

    const QByteArray rewritten = contentsOf(AppPaths::config());
    QCOMPARE(rewritten, (*loaded)->encoded());
    QVERIFY(!rewritten.contains("schema"));
    QVERIFY(rewritten.contains("\"deviceId\" : \"3F2504E0-4F89-41D3-9A0C-0305E82C3301\""));
}

void FileConfigStoreTest::failedLoadLeavesTheFileAlone_data()
{
    QTest::addColumn<QByteArray>("bytes");

    QTest::newRow("empty") << QByteArray();
    QTest::newRow("malformed") << QByteArray("{\"apiUrl\":");
    QTest::newRow("missing defaultDirectory")
        << QByteArray(R"({"allowedRoots":[],"apiUrl":"x","appVersion":"1",)"
                      R"("deviceId":"3F2504E0-4F89-41D3-9A0C-0305E82C3301","providerPaths":{}})");
}

void FileConfigStoreTest::failedLoadLeavesTheFileAlone()
{
    QFETCH(QByteArray, bytes);
    writeRaw(AppPaths::config(), bytes);

    const auto loaded = store().load();

    QVERIFY(!loaded);
    QCOMPARE(loaded.error().domain, QStringLiteral("JSONDecoding"));
    QCOMPARE(contentsOf(AppPaths::config()), bytes);
}

void FileConfigStoreTest::readErrorsPassThrough()
{
    QVERIFY(QDir().mkpath(AppPaths::config()));

    const auto loaded = store().load();

    QVERIFY(!loaded);
    QCOMPARE(loaded.error().domain, QStringLiteral("POSIX"));
    QCOMPARE(loaded.error().code, EISDIR);
}

void FileConfigStoreTest::removeTwiceSucceeds()
{
    FileConfigStore configStore = store();
    QVERIFY(configStore.save(sampleConfig()));

    QVERIFY(configStore.remove());
    QVERIFY(configStore.remove());

    QVERIFY(!QFileInfo::exists(AppPaths::config()));
    QVERIFY(QFileInfo(AppPaths::applicationSupportDirectory()).isDir());
    const auto loaded = configStore.load();
    QVERIFY(loaded && !loaded->has_value());
}

QTEST_GUILESS_MAIN(FileConfigStoreTest)
#include "tst_fileconfigstore.moc"
