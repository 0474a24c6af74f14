#include "config/AppConfig.h"
#include "common/JsonObjectReader.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
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

const QUuid deviceA = QUuid::fromString(QStringLiteral("3F2504E0-4F89-41D3-9A0C-0305E82C3301"));
const QUuid deviceB = QUuid::fromString(QStringLiteral("00000000-0000-0000-0000-00000000000A"));

AppConfig fullConfig()
{
    return AppConfig{QStringLiteral("https://tarnwick.example/"),
                     deviceA,
                     QStringLiteral("0.3.0"),
                     {QStringLiteral("/home/ada/code"), QStringLiteral("/home/ada/Документы")},
                     QStringLiteral("/home/ada/code"),
                     ProviderPaths{QStringLiteral("/usr/bin/codex"), QStringLiteral("/usr/local/bin/claude")}};
}

AppConfig sparseConfig()
{
    return AppConfig{QStringLiteral("http://127.0.0.1:8787/"),
                     deviceB,
                     QStringLiteral("0.3.0 \"beta\"\\\t\x1f"),
                     {},
                     QString(),
                     ProviderPaths{std::nullopt, QStringLiteral("/opt/claude code/bin/claude")}};
}

AppConfig noProviderConfig()
{
    return AppConfig{QStringLiteral("https://tarnwick.example/"), deviceA, QStringLiteral("0.3.0"),
                     {QStringLiteral("/srv/work")}, QStringLiteral("/srv/work"), ProviderPaths{}};
}

// Replaces the member `key` of the full file's object by `value`, or removes it when `value` is undefined.
QByteArray fullWith(const QString &key, const QJsonValue &value)
{
    QJsonObject object = QJsonDocument::fromJson(dataFile(QStringLiteral("full.json"))).object();
    if (value.isUndefined())
        object.remove(key);
    else
        object.insert(key, value);
    return QJsonDocument(object).toJson();
}

} // namespace

class AppConfigTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void providerPathsJson_data();
    void providerPathsJson();
    void providerPathsRejectsNonStrings();
    void encodesByteForByte_data();
    void encodesByteForByte();
    void decodesWhatItWrites_data();
    void decodesWhatItWrites();
    void decodesLenientForms();
    void rejects_data();
    void rejects();
    void readyForReconnect_data();
    void readyForReconnect();
};

void AppConfigTest::providerPathsJson_data()
{
    QTest::addColumn<ProviderPaths>("paths");
    QTest::addColumn<QByteArray>("json");
    QTest::addColumn<bool>("hasProvider");

    QTest::newRow("none") << ProviderPaths{} << QByteArray("{}") << false;
    QTest::newRow("claude code only") << ProviderPaths{std::nullopt, QStringLiteral("/bin/claude")}
                                      << QByteArray(R"({"claudeCode":"/bin/claude"})") << true;
    QTest::newRow("codex only") << ProviderPaths{QStringLiteral("/bin/codex"), std::nullopt}
                                << QByteArray(R"({"codex":"/bin/codex"})") << true;
    QTest::newRow("empty but present") << ProviderPaths{QString(), std::nullopt} << QByteArray(R"({"codex":""})")
                                       << true;
}

void AppConfigTest::providerPathsJson()
{
    QFETCH(ProviderPaths, paths);
    QFETCH(QByteArray, json);
    QFETCH(bool, hasProvider);

    QCOMPARE(paths.hasProvider(), hasProvider);
    QCOMPARE(QJsonDocument(paths.toJson()).toJson(QJsonDocument::Compact), json);
    const auto decoded = ProviderPaths::fromJson(QJsonDocument::fromJson(json).object());
    QVERIFY(decoded);
    QCOMPARE(*decoded, paths);
}

void AppConfigTest::providerPathsRejectsNonStrings()
{
    const auto decoded = ProviderPaths::fromJson(QJsonObject{{QStringLiteral("codex"), 7}},
                                                 QStringLiteral("providerPaths"));
    QVERIFY(!decoded);
    QCOMPARE(decoded.error().code, int(JsonObjectReader::typeMismatch));
    QVERIFY2(decoded.error().description.contains(u"providerPaths.codex"), qPrintable(decoded.error().description));
}

void AppConfigTest::encodesByteForByte_data()
{
    QTest::addColumn<AppConfig>("config");
    QTest::addColumn<QString>("golden");

    QTest::newRow("full") << fullConfig() << QStringLiteral("full.json");
    QTest::newRow("escapes, no folders, one provider") << sparseConfig() << QStringLiteral("sparse.json");
    QTest::newRow("no provider") << noProviderConfig() << QStringLiteral("no-provider.json");
}

void AppConfigTest::encodesByteForByte()
{
    QFETCH(AppConfig, config);
    QFETCH(QString, golden);

    QCOMPARE(config.encoded(), dataFile(golden));
}

void AppConfigTest::decodesWhatItWrites_data()
{
    encodesByteForByte_data();
}

void AppConfigTest::decodesWhatItWrites()
{
    QFETCH(AppConfig, config);
    QFETCH(QString, golden);

    const auto decoded = AppConfig::decode(dataFile(golden));
    QVERIFY2(decoded, decoded ? "" : qPrintable(decoded.error().description));
    QCOMPARE(*decoded, config);
}

void AppConfigTest::decodesLenientForms()
{
    const auto decoded = AppConfig::decode(dataFile(QStringLiteral("lenient.json")));
    QVERIFY2(decoded, decoded ? "" : qPrintable(decoded.error().description));
    QCOMPARE(decoded->deviceId, deviceA);
    QCOMPARE(decoded->apiUrl, QStringLiteral("https://tarnwick.example/"));
    QCOMPARE(decoded->providerPaths, (ProviderPaths{QStringLiteral("/usr/bin/codex"), std::nullopt}));
    QVERIFY(!decoded->encoded().contains("schema"));
    QVERIFY(!decoded->encoded().contains("future"));
}

void AppConfigTest::rejects_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("named");

    const auto corrupted = int(JsonObjectReader::dataCorrupted);
    const auto missing = int(JsonObjectReader::keyNotFound);
    const auto mismatch = int(JsonObjectReader::typeMismatch);
    const auto null = int(JsonObjectReader::valueNotFound);
    const QString deviceId = QStringLiteral("deviceId");

    QTest::newRow("empty file") << QByteArray() << corrupted << QString();
    QTest::newRow("truncated") << dataFile(QStringLiteral("full.json")).left(120) << corrupted << QString();
    QTest::newRow("invalid UTF-8") << QByteArray("{\"apiUrl\":\"\xff\xfe\"}") << corrupted << QString();
    QTest::newRow("top-level array") << QByteArray("[]") << mismatch << QString();
    for (const char *key : {"apiUrl", "deviceId", "appVersion", "allowedRoots", "defaultDirectory", "providerPaths"}) {
        const QString name = QString::fromLatin1(key);
        QTest::addRow("without %s", key) << fullWith(name, QJsonValue::Undefined) << missing << name;
        QTest::addRow("%s null", key) << fullWith(name, QJsonValue::Null) << null << name;
    }
    QTest::newRow("apiUrl a number") << fullWith(QStringLiteral("apiUrl"), 1) << mismatch << QStringLiteral("apiUrl");
    QTest::newRow("allowedRoots a string") << fullWith(QStringLiteral("allowedRoots"), QStringLiteral("/srv"))
                                           << mismatch << QStringLiteral("allowedRoots");
    QTest::newRow("allowedRoots holding a number") << fullWith(QStringLiteral("allowedRoots"), QJsonArray{u"/srv"_s, 3})
                                                   << mismatch << QStringLiteral("allowedRoots[1]");
    QTest::newRow("providerPaths a list") << fullWith(QStringLiteral("providerPaths"), QJsonArray{})
                                          << mismatch << QStringLiteral("providerPaths");
    QTest::newRow("claudeCode a bool")
        << fullWith(QStringLiteral("providerPaths"), QJsonObject{{QStringLiteral("claudeCode"), true}}) << mismatch
        << QStringLiteral("providerPaths.claudeCode");
    for (const char *id : {"not-a-uuid", "{3F2504E0-4F89-41D3-9A0C-0305E82C3301}", "3F2504E04F8941D39A0C0305E82C3301",
                           "3F2504E0-4F89-41D3-9A0C-0305E82C330", "3F2504E0-4F89-41D3-9A0C-0305E82C330G",
                           "3F2504E0-4F89-41D3-9A0C+0305E82C3301", ""})
        QTest::addRow("deviceId \"%s\"", id) << fullWith(deviceId, QString::fromLatin1(id)) << corrupted << deviceId;
    QTest::newRow("deviceId a number") << fullWith(deviceId, 42) << mismatch << deviceId;
}

void AppConfigTest::rejects()
{
    QFETCH(QByteArray, bytes);
    QFETCH(int, code);
    QFETCH(QString, named);

    const auto decoded = AppConfig::decode(bytes);
    QVERIFY(!decoded);
    QCOMPARE(decoded.error().domain, QStringLiteral("JSONDecoding"));
    QCOMPARE(decoded.error().code, code);
    if (!named.isEmpty())
        QVERIFY2(decoded.error().description.contains(u'"' + named + u'"'), qPrintable(decoded.error().description));
}

void AppConfigTest::readyForReconnect_data()
{
    QTest::addColumn<AppConfig>("config");
    QTest::addColumn<QUuid>("device");
    QTest::addColumn<bool>("ready");

    AppConfig noFolders = fullConfig();
    noFolders.allowedRoots.clear();
    AppConfig otherFields = fullConfig();
    otherFields.apiUrl.clear();
    otherFields.appVersion.clear();
    otherFields.defaultDirectory.clear();

    QTest::newRow("same device, folders and a provider") << fullConfig() << deviceA << true;
    QTest::newRow("only claude code") << AppConfig{sparseConfig().apiUrl, deviceA, {}, {u"/x"_s}, {},
                                                   sparseConfig().providerPaths}
                                      << deviceA << true;
    QTest::newRow("other fields empty") << otherFields << deviceA << true;
    QTest::newRow("other device") << fullConfig() << deviceB << false;
    QTest::newRow("null device") << fullConfig() << QUuid() << false;
    QTest::newRow("no folders") << noFolders << deviceA << false;
    QTest::newRow("no provider") << noProviderConfig() << deviceA << false;
}

void AppConfigTest::readyForReconnect()
{
    QFETCH(AppConfig, config);
    QFETCH(QUuid, device);
    QFETCH(bool, ready);

    QCOMPARE(config.isReadyForReconnect(device), ready);
}

QTEST_GUILESS_MAIN(AppConfigTest)
#include "tst_appconfig.moc"
