#include "TestFiles.h"

#include "common/AtomicFile.h"
#include "common/JsonObjectReader.h"
#include "config/AppPaths.h"
#include "config/FileConfigStore.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <fcntl.h>
#include <future>
#include <sys/resource.h>
#include <sys/stat.h>

namespace {

QByteArray dataFile(const QString &name)
{
    return TestFiles::read(QStringLiteral(TESTS_DATA_DIR "/config/") + name);
}

const QUuid deviceA = QUuid::fromString(QStringLiteral("3F2504E0-4F89-41D3-9A0C-0305E82C3301"));

AppConfig fullConfig()
{
    return AppConfig{QStringLiteral("https://tarnwick.example/"),
                     deviceA,
                     QStringLiteral("0.3.0"),
                     {QStringLiteral("/home/ada/code"), QStringLiteral("/home/ada/Документы")},
                     QStringLiteral("/home/ada/code"),
                     ProviderPaths{QStringLiteral("/usr/bin/codex"), QStringLiteral("/usr/local/bin/claude")}};
}

// full.json with the member `key` set to `value`, or removed when `value` is undefined.
QByteArray fullWith(const QString &key, const QJsonValue &value)
{
    QJsonObject object = QJsonDocument::fromJson(dataFile(QStringLiteral("full.json"))).object();
    if (value.isUndefined())
        object.remove(key);
    else
        object.insert(key, value);
    return QJsonDocument(object).toJson();
}

mode_t permissionsOf(const QString &path)
{
    struct stat info = {};
    return ::stat(QFile::encodeName(path).constData(), &info) == 0 ? info.st_mode & 07777 : 0;
}

} // namespace

// The configuration file: its bytes, its rules, the store at $XDG_DATA_HOME/Tarnwick/config.json of a temporary
// folder, and the atomic, owner-only writes every stored file goes through.
class TestAppConfig : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_dataHome;
    QString m_target; // a stored file in m_dataHome

    QStringList entries() const
    {
        return QDir(m_dataHome->path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
    }

private Q_SLOTS:
    void init()
    {
        m_dataHome = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dataHome->isValid());
        qputenv("XDG_DATA_HOME", QFile::encodeName(m_dataHome->path()));
        m_target = m_dataHome->filePath(QStringLiteral("status.json"));
    }

    // Both programs read this file: the store writes it byte for byte and reads it back whole. Loading
    // creates nothing and rewrites nothing: a member this version does not know (written by a newer one) is
    // read past, and gone after the next save; a corrupt file is reported and left as it is.
    void storedFile_data()
    {
        QTest::addColumn<QByteArray>("stored"); // what is there before the save; null: nothing
        QTest::addColumn<bool>("readable");
        QTest::addColumn<AppConfig>("config");
        QTest::addColumn<QString>("golden");
        const AppConfig sparse{QStringLiteral("http://127.0.0.1:8787/"),
                               QUuid::fromString(QStringLiteral("00000000-0000-0000-0000-00000000000A")),
                               QStringLiteral("0.3.0 \"beta\"\\\t\x1f"),
                               {},
                               QString(),
                               ProviderPaths{std::nullopt, QStringLiteral("/opt/claude code/bin/claude")}};
        QTest::newRow("escapes, no folders, one provider")
            << QByteArray() << true << sparse << QStringLiteral("sparse.json");
        QTest::newRow("unknown member") << fullWith(QStringLiteral("theme"), QStringLiteral("dark")) << true
                                        << fullConfig() << QStringLiteral("full.json");
        QTest::newRow("corrupt") << QByteArray("{\"apiUrl\":") << false << fullConfig() << QStringLiteral("full.json");
    }

    void storedFile()
    {
        QFETCH(QByteArray, stored);
        QFETCH(bool, readable);
        QFETCH(AppConfig, config);
        QFETCH(QString, golden);
        FileConfigStore store(AppPaths::config());
        if (!stored.isNull())
            QVERIFY(AtomicFile::replace(AppPaths::config(), stored));

        const auto loaded = store.load();
        QCOMPARE(loaded.has_value(), readable);
        QCOMPARE(loaded.value_or(std::nullopt), readable && !stored.isNull() ? std::optional(config) : std::nullopt);
        QCOMPARE(TestFiles::read(AppPaths::config()), stored);
        QCOMPARE(QFileInfo::exists(AppPaths::applicationSupportDirectory()), !stored.isNull());

        QVERIFY(store.save(config));
        QCOMPARE(TestFiles::read(AppPaths::config()), dataFile(golden));
        QCOMPARE(store.load().value_or(std::nullopt), std::optional(config));
        QVERIFY(store.remove());
        QVERIFY(store.remove());
        QCOMPARE(store.load().value(), std::nullopt);
    }

    void rejects_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("named");
        const auto corrupted = int(JsonObjectReader::dataCorrupted);
        const auto mismatch = int(JsonObjectReader::typeMismatch);
        const QString deviceId = QStringLiteral("deviceId");
        QTest::newRow("truncated") << dataFile(QStringLiteral("full.json")).left(120) << corrupted << QString();
        QTest::newRow("top-level array") << QByteArray("[]") << mismatch << QString();
        for (const char *key :
             {"apiUrl", "deviceId", "appVersion", "allowedRoots", "defaultDirectory", "providerPaths"}) {
            const QString name = QString::fromLatin1(key);
            QTest::addRow("without %s", key)
                << fullWith(name, QJsonValue::Undefined) << int(JsonObjectReader::keyNotFound) << name;
        }
        QTest::newRow("deviceId null") << fullWith(deviceId, QJsonValue::Null) << int(JsonObjectReader::valueNotFound)
                                       << deviceId;
        QTest::newRow("allowedRoots holding a number")
            << fullWith(QStringLiteral("allowedRoots"), QJsonArray{QStringLiteral("/srv"), 3}) << mismatch
            << QStringLiteral("allowedRoots[1]");
        // Forms QUuid would accept, and a character that is not hexadecimal.
        for (const char *id : {"{3F2504E0-4F89-41D3-9A0C-0305E82C3301}", "3F2504E04F8941D39A0C0305E82C3301",
                               "3F2504E0-4F89-41D3-9A0C-0305E82C330G"})
            QTest::addRow("deviceId \"%s\"", id)
                << fullWith(deviceId, QString::fromLatin1(id)) << corrupted << deviceId;
    }

    void rejects()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(int, code);
        QFETCH(QString, named);

        const auto decoded = AppConfig::decode(bytes);
        QVERIFY(!decoded);
        QCOMPARE(decoded.error().domain, QStringLiteral("JSONDecoding"));
        QCOMPARE(decoded.error().code, code);
        if (!named.isEmpty())
            QVERIFY(decoded.error().description.contains(u'"' + named + u'"'));
    }

    // Reconnecting skips the setup steps only for the same device with folders and an agent.
    void readyForReconnect()
    {
        AppConfig noFolders = fullConfig();
        noFolders.allowedRoots.clear();
        AppConfig onlyClaude = fullConfig();
        onlyClaude.providerPaths.codex.reset();
        AppConfig noProvider = onlyClaude;
        noProvider.providerPaths.claudeCode.reset();
        QVERIFY(fullConfig().isReadyForReconnect(deviceA));
        QVERIFY(onlyClaude.isReadyForReconnect(deviceA));
        QVERIFY(!fullConfig().isReadyForReconnect(QUuid::createUuid()));
        QVERIFY(!noFolders.isReadyForReconnect(deviceA));
        QVERIFY(!noProvider.isReadyForReconnect(deviceA));
    }

    // Reading (both stored files go through it) never waits on what is planted at the path, and never takes
    // in more than 1 MiB.
    void readsOnlySmallRegularFiles_data()
    {
        QTest::addColumn<qint64>("size");     // -1: a FIFO
        QTest::addColumn<QString>("refusal"); // the end of the error's text; empty: read whole
        QTest::newRow("FIFO") << qint64(-1) << QStringLiteral(": not a regular file");
        QTest::newRow("5 MiB") << qint64(5 << 20) << QStringLiteral(": larger than 1 MiB");
        QTest::newRow("1 MiB") << qint64(1 << 20) << QString();
    }

    void readsOnlySmallRegularFiles()
    {
        QFETCH(qint64, size);
        QFETCH(QString, refusal);
        if (size < 0)
            QCOMPARE(::mkfifo(QFile::encodeName(m_target).constData(), 0600), 0);
        else
            QVERIFY(TestFiles::write(m_target, QByteArray(size, ' ')));

        auto reading = std::async(std::launch::async, [this] { return AtomicFile::readIfPresent(m_target); });
        const bool promptly = reading.wait_for(std::chrono::seconds(5)) == std::future_status::ready;
        if (!promptly) // a writer lets the stuck read go
            ::close(::open(QFile::encodeName(m_target).constData(), O_WRONLY | O_NONBLOCK));
        const auto read = reading.get();

        QVERIFY2(promptly, "the read waited for a writer");
        if (refusal.isEmpty())
            QCOMPARE(read.value().value_or(QByteArray()).size(), size);
        else
            QCOMPARE(read ? QString() : read.error().description, m_target + refusal);
    }

    // Owner-only whatever the umask and whatever was there. A planted link is replaced, never followed:
    // what it points at stays as it was.
    void replaceWritesAnOwnerOnlyFile_data()
    {
        QTest::addColumn<int>("umask");
        QTest::addColumn<QString>("planted"); // at the path before: nothing, "file" or "link"
        QTest::newRow("umask 000, over a 0666 file") << 0000 << QStringLiteral("file");
        QTest::newRow("umask 277, new file") << 0277 << QString();
        QTest::newRow("over a link") << 0022 << QStringLiteral("link");
    }

    void replaceWritesAnOwnerOnlyFile()
    {
        QFETCH(int, umask);
        QFETCH(QString, planted);
        const QString victim = m_dataHome->filePath(QStringLiteral("victim"));
        const bool linked = planted == u"link";
        if (planted == u"file")
            QVERIFY(TestFiles::write(m_target, "old", QFile::Permissions(0x6666)));
        if (linked)
            QVERIFY(TestFiles::write(victim, "keep me", QFile::Permissions(0x6444)) && QFile::link(victim, m_target));

        const mode_t previous = ::umask(static_cast<mode_t>(umask));
        const auto written = AtomicFile::replace(m_target, "new");
        ::umask(previous);

        QVERIFY(written);
        QVERIFY(!QFileInfo(m_target).isSymLink());
        QCOMPARE(permissionsOf(m_target), mode_t(0600));
        QCOMPARE(TestFiles::read(m_target), QByteArray("new"));
        QCOMPARE(TestFiles::read(victim), linked ? QByteArray("keep me") : QByteArray());
        QCOMPARE(permissionsOf(victim), linked ? mode_t(0644) : mode_t(0));
        QCOMPARE(entries(), QStringList{QStringLiteral("status.json")}
                                + (linked ? QStringList{QStringLiteral("victim")} : QStringList()));
    }

    // A file size limit makes the write fail half-way, with EFBIG.
    void failedWriteKeepsOldFile()
    {
        QVERIFY(AtomicFile::replace(m_target, "old content"));
        rlimit previous{};
        ::getrlimit(RLIMIT_FSIZE, &previous);
        const rlimit limit{4096, previous.rlim_max};
        const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
        ::setrlimit(RLIMIT_FSIZE, &limit);

        const auto written = AtomicFile::replace(m_target, QByteArray(64 * 1024, 'x'));

        ::setrlimit(RLIMIT_FSIZE, &previous);
        std::signal(SIGXFSZ, previousHandler);
        QVERIFY(!written);
        QCOMPARE(written.error().code, EFBIG);
        QVERIFY(written.error().description.startsWith(m_target));
        QCOMPARE(TestFiles::read(m_target), QByteArray("old content"));
        QCOMPARE(entries(), QStringList{QStringLiteral("status.json")});
    }
};

QTEST_GUILESS_MAIN(TestAppConfig)
#include "tst_appconfig.moc"
