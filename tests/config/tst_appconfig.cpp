#include "common/JsonObjectReader.h"
#include "config/AppPaths.h"
#include "config/FileConfigStore.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

QByteArray dataFile(const QString &name)
{
    QFile file(QStringLiteral(TESTS_DATA_DIR "/config/") + name);
    if (!file.open(QIODevice::ReadOnly))
        qFatal("missing test data %s", qPrintable(name));
    return file.readAll();
}

const QUuid deviceA = QUuid::fromString(u"3F2504E0-4F89-41D3-9A0C-0305E82C3301"_s);

AppConfig fullConfig()
{
    return AppConfig{u"https://tarnwick.example/"_s, deviceA, u"0.3.0"_s,
                     {u"/home/ada/code"_s, u"/home/ada/Документы"_s}, u"/home/ada/code"_s,
                     ProviderPaths{u"/usr/bin/codex"_s, u"/usr/local/bin/claude"_s}};
}

AppConfig noProviderConfig()
{
    return AppConfig{u"https://tarnwick.example/"_s, deviceA, u"0.3.0"_s, {u"/srv/work"_s}, u"/srv/work"_s, {}};
}

// full.json with the member `key` set to `value`, or removed when `value` is undefined.
QByteArray fullWith(const QString &key, const QJsonValue &value)
{
    QJsonObject object = QJsonDocument::fromJson(dataFile(u"full.json"_s)).object();
    if (value.isUndefined())
        object.remove(key);
    else
        object.insert(key, value);
    return QJsonDocument(object).toJson();
}

} // namespace

// The configuration file: its bytes, its rules, and the store at $XDG_DATA_HOME/Tarnwick/config.json of a
// temporary folder.
class AppConfigTest : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> m_dataHome;

private Q_SLOTS:
    void init()
    {
        m_dataHome = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dataHome->isValid());
        qputenv("XDG_DATA_HOME", QFile::encodeName(m_dataHome->path()));
    }

    // Both programs read this file: the store must write it byte for byte, and read it back whole.
    void goldenFiles_data()
    {
        QTest::addColumn<AppConfig>("config");
        QTest::addColumn<QString>("golden");
        const QUuid deviceB = QUuid::fromString(u"00000000-0000-0000-0000-00000000000A"_s);
        const AppConfig sparse{u"http://127.0.0.1:8787/"_s, deviceB, u"0.3.0 \"beta\"\\\t\x1f"_s, {}, QString(),
                               ProviderPaths{std::nullopt, u"/opt/claude code/bin/claude"_s}};
        QTest::newRow("full") << fullConfig() << u"full.json"_s;
        QTest::newRow("escapes, no folders, one provider") << sparse << u"sparse.json"_s;
        QTest::newRow("no provider") << noProviderConfig() << u"no-provider.json"_s;
    }

    void goldenFiles()
    {
        QFETCH(AppConfig, config);
        QFETCH(QString, golden);
        FileConfigStore store(AppPaths::config());

        QVERIFY(store.save(config));

        QFile file(AppPaths::config());
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), dataFile(golden));
        const auto loaded = store.load();
        QVERIFY2(loaded, loaded ? "" : qPrintable(loaded.error().description));
        QCOMPARE(*loaded, std::optional(config));
    }

    // Lower-case identifier, null provider, unknown members: accepted, and the unknown ones not kept.
    void decodesLenientForms()
    {
        const auto decoded = AppConfig::decode(dataFile(u"lenient.json"_s));
        QVERIFY2(decoded, decoded ? "" : qPrintable(decoded.error().description));
        AppConfig expected = noProviderConfig();
        expected.providerPaths.codex = u"/usr/bin/codex"_s;
        QCOMPARE(*decoded, expected);
    }

    void rejects_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("named");
        const auto corrupted = int(JsonObjectReader::dataCorrupted);
        const auto mismatch = int(JsonObjectReader::typeMismatch);
        const QString deviceId = u"deviceId"_s;
        QTest::newRow("empty file") << QByteArray() << corrupted << QString();
        QTest::newRow("truncated") << dataFile(u"full.json"_s).left(120) << corrupted << QString();
        QTest::newRow("invalid UTF-8") << QByteArray("{\"apiUrl\":\"\xff\xfe\"}") << corrupted << QString();
        QTest::newRow("top-level array") << QByteArray("[]") << mismatch << QString();
        for (const char *key :
             {"apiUrl", "deviceId", "appVersion", "allowedRoots", "defaultDirectory", "providerPaths"}) {
            const QString name = QString::fromLatin1(key);
            QTest::addRow("without %s", key) << fullWith(name, QJsonValue::Undefined)
                                             << int(JsonObjectReader::keyNotFound) << name;
            QTest::addRow("%s null", key) << fullWith(name, QJsonValue::Null) << int(JsonObjectReader::valueNotFound)
                                          << name;
        }
        QTest::newRow("apiUrl a number") << fullWith(u"apiUrl"_s, 1) << mismatch << u"apiUrl"_s;
        QTest::newRow("allowedRoots holding a number") << fullWith(u"allowedRoots"_s, QJsonArray{u"/srv"_s, 3})
                                                       << mismatch << u"allowedRoots[1]"_s;
        QTest::newRow("claudeCode a bool") << fullWith(u"providerPaths"_s, QJsonObject{{u"claudeCode"_s, true}})
                                           << mismatch << u"providerPaths.claudeCode"_s;
        for (const char *id : {"not-a-uuid", "{3F2504E0-4F89-41D3-9A0C-0305E82C3301}",
                               "3F2504E04F8941D39A0C0305E82C3301", "3F2504E0-4F89-41D3-9A0C-0305E82C330G", ""})
            QTest::addRow("deviceId \"%s\"", id) << fullWith(deviceId, QString::fromLatin1(id)) << corrupted
                                                 << deviceId;
        QTest::newRow("deviceId a number") << fullWith(deviceId, 42) << mismatch << deviceId;
    }

    void rejects()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(int, code);
        QFETCH(QString, named);

        const auto decoded = AppConfig::decode(bytes);
        QVERIFY(!decoded);
        QCOMPARE(decoded.error().domain, u"JSONDecoding"_s);
        QCOMPARE(decoded.error().code, code);
        if (!named.isEmpty())
            QVERIFY2(decoded.error().description.contains(u'"' + named + u'"'),
                     qPrintable(decoded.error().description));
    }

    void readyForReconnect_data()
    {
        QTest::addColumn<AppConfig>("config");
        QTest::addColumn<QUuid>("device");
        QTest::addColumn<bool>("ready");
        AppConfig noFolders = fullConfig();
        noFolders.allowedRoots.clear();
        AppConfig onlyClaude = fullConfig();
        onlyClaude.providerPaths.codex.reset();
        QTest::newRow("same device, folders and a provider") << fullConfig() << deviceA << true;
        QTest::newRow("only claude code") << onlyClaude << deviceA << true;
        QTest::newRow("other device") << fullConfig() << QUuid::createUuid() << false;
        QTest::newRow("null device") << fullConfig() << QUuid() << false;
        QTest::newRow("no folders") << noFolders << deviceA << false;
        QTest::newRow("no provider") << noProviderConfig() << deviceA << false;
    }

    void readyForReconnect()
    {
        QFETCH(AppConfig, config);
        QFETCH(QUuid, device);
        QFETCH(bool, ready);
        QCOMPARE(config.isReadyForReconnect(device), ready);
    }

    void pathsFollowTheDataHome_data()
    {
        QTest::addColumn<QByteArray>("dataHome");
        QTest::addColumn<QString>("directory");
        const QString fallback = QDir::homePath() + u"/.local/share/Tarnwick"_s;
        QTest::newRow("absolute, trailing slash") << QByteArray("/var/tmp/data/") << u"/var/tmp/data/Tarnwick"_s;
        QTest::newRow("unset") << QByteArray() << fallback;
        QTest::newRow("relative is ignored") << QByteArray("data") << fallback;
    }

    void pathsFollowTheDataHome()
    {
        QFETCH(QByteArray, dataHome);
        QFETCH(QString, directory);
        if (dataHome.isEmpty())
            qunsetenv("XDG_DATA_HOME");
        else
            qputenv("XDG_DATA_HOME", dataHome);

        QCOMPARE(AppPaths::applicationSupportDirectory(), directory);
        QCOMPARE(AppPaths::config(), directory + u"/config.json"_s);
        QCOMPARE(AppPaths::status(), directory + u"/status.json"_s);
    }

    // Nothing is created by loading; removing leaves the folder and may be repeated.
    void absentUntilSavedAndAfterRemoval()
    {
        FileConfigStore store(AppPaths::config());
        QCOMPARE(store.load().value(), std::nullopt);
        QVERIFY(!QFileInfo::exists(AppPaths::applicationSupportDirectory()));
        QVERIFY(store.save(fullConfig()));
        QVERIFY(store.remove());
        QVERIFY(store.remove());
        QCOMPARE(store.load().value(), std::nullopt);
        QVERIFY(QFileInfo(AppPaths::applicationSupportDirectory()).isDir());
    }

    // A corrupt file is reported and left for the user to look at, never rewritten.
    void failedLoadLeavesTheFileAlone()
    {
        QVERIFY(QDir().mkpath(AppPaths::applicationSupportDirectory()));
        QFile file(AppPaths::config());
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("{\"apiUrl\":");
        file.close();

        const auto loaded = FileConfigStore(AppPaths::config()).load();

        QVERIFY(!loaded);
        QCOMPARE(loaded.error().domain, u"JSONDecoding"_s);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), QByteArray("{\"apiUrl\":"));
    }
};

QTEST_GUILESS_MAIN(AppConfigTest)
#include "tst_appconfig.moc"
