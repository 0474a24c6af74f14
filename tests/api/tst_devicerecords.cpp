#include "api/DashboardLinks.h"
#include "api/DeviceExchange.h"
#include "api/DeviceTaskActivity.h"
#include "api/JsonFields.h"
#include "api/PairingCredentialPersister.h"
#include "common/JsonObjectReader.h"
#include "credentials/CredentialStoring.h"

#include <QJsonDocument>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

const QUuid deviceId = QUuid::fromString(u"6F1C2A3B-4D5E-4F60-8A9B-0C1D2E3F4A5B"_s);
const QUuid taskA = QUuid::fromString(u"11111111-2222-4333-8444-555555555555"_s);
const QUuid taskB = QUuid::fromString(u"AAAAAAAA-BBBB-4CCC-8DDD-EEEEEEEEEEEE"_s);

QByteArray deviceJson(const QByteArray &members)
{
    return R"({"id":"6f1c2a3b-4d5e-4f60-8a9b-0c1d2e3f4a5b","name":"Desk","platform":"macos",)"
           R"("architecture":"arm64","appVersion":"0.3.0")"
        + members + "}";
}

QByteArray recent(const QByteArray &taskId, const QByteArray &label)
{
    return R"({"taskId":")" + taskId + R"(","label":")" + label
        + R"(","status":"completed","completedAt":"2026-01-02T03:04:05Z"})";
}

// Records the calls a persister makes and answers with a scripted outcome.
class RecordingStore : public CredentialStoring
{
public:
    Result<void> save(const QString &credential) const override
    {
        saved.append(credential);
        return outcome;
    }
    Result<std::optional<QString>> read() const override { return std::optional<QString>(); }
    Result<void> remove() const override { return {}; }

    mutable QStringList saved;
    Result<void> outcome;
};

}

class TestDeviceRecords : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void decodesDevice_data()
    {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<int>("errorCode");
        QTest::addColumn<std::optional<QString>>("lastSeenAt");
        QTest::addColumn<bool>("online");

        const std::optional<QString> none;
        QTest::newRow("complete") << deviceJson(R"(,"lastSeenAt":"yesterday","online":true)") << 0
                                  << std::optional(u"yesterday"_s) << true;
        QTest::newRow("lastSeenAt missing") << deviceJson(R"(,"online":false)") << 0 << none << false;
        QTest::newRow("lastSeenAt null") << deviceJson(R"(,"lastSeenAt":null,"online":true)") << 0 << none << true;
        QTest::newRow("unknown members") << deviceJson(R"(,"online":true,"colour":[1,2],"owner":{"a":1})") << 0
                                         << none << true;
        QTest::newRow("lastSeenAt a number") << deviceJson(R"(,"lastSeenAt":5,"online":true)")
                                             << int(JsonObjectReader::typeMismatch) << none << false;
        QTest::newRow("online missing") << deviceJson("") << int(JsonObjectReader::keyNotFound) << none << false;
        QTest::newRow("online null") << deviceJson(R"(,"online":null)") << int(JsonObjectReader::valueNotFound)
                                     << none << false;
        QTest::newRow("online a text") << deviceJson(R"(,"online":"true")") << int(JsonObjectReader::typeMismatch)
                                       << none << false;
        QTest::newRow("online a number") << deviceJson(R"(,"online":1)") << int(JsonObjectReader::typeMismatch)
                                         << none << false;
        QTest::newRow("id not a UUID")
            << QByteArray(R"({"id":"desk","name":"n","platform":"p","architecture":"a","appVersion":"v",)"
                          R"("online":true})")
            << int(JsonObjectReader::dataCorrupted) << none << false;
        QTest::newRow("id in braces")
            << QByteArray(R"({"id":"{6f1c2a3b-4d5e-4f60-8a9b-0c1d2e3f4a5b}","name":"n","platform":"p",)"
                          R"("architecture":"a","appVersion":"v","online":true})")
            << int(JsonObjectReader::dataCorrupted) << none << false;
        QTest::newRow("name a number")
            << QByteArray(R"({"id":"6f1c2a3b-4d5e-4f60-8a9b-0c1d2e3f4a5b","name":7,"platform":"p",)"
                          R"("architecture":"a","appVersion":"v","online":true})")
            << int(JsonObjectReader::typeMismatch) << none << false;
        QTest::newRow("not an object") << QByteArray("[1]") << int(JsonObjectReader::typeMismatch) << none << false;
        QTest::newRow("not JSON") << QByteArray("<html>") << int(JsonObjectReader::dataCorrupted) << none << false;
        QTest::newRow("empty") << QByteArray() << int(JsonObjectReader::dataCorrupted) << none << false;
    }

    void decodesDevice()
    {
        QFETCH(QByteArray, json);
        QFETCH(int, errorCode);
        QFETCH(std::optional<QString>, lastSeenAt);
        QFETCH(bool, online);
        const Result<Device> device = JsonFields::decode<Device>(json);
        if (errorCode != 0) {
            QVERIFY(!device);
            QCOMPARE(device.error().domain, JsonObjectReader::errorDomain);
            QCOMPARE(device.error().code, errorCode);
            return;
        }
        QVERIFY(device.has_value());
        QCOMPARE(*device, (Device{deviceId, u"Desk"_s, u"macos"_s, u"arm64"_s, u"0.3.0"_s, lastSeenAt, online}));
    }

    void decodesExchange_data()
    {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<QString>("failingPath");
        QTest::newRow("complete") << R"({"credential":"twk_device_x","device":)" + deviceJson(R"(,"online":true)") + "}"
                                  << QString();
        QTest::newRow("credential missing") << R"({"device":)" + deviceJson(R"(,"online":true)") + "}"
                                            << u"credential"_s;
        QTest::newRow("device incomplete") << R"({"credential":"c","device":)" + deviceJson("") + "}"
                                           << u"device.online"_s;
        QTest::newRow("device a text") << QByteArray(R"({"credential":"c","device":"desk"})") << u"device"_s;
    }

    void decodesExchange()
    {
        QFETCH(QByteArray, json);
        QFETCH(QString, failingPath);
        const Result<DeviceExchange> exchange = JsonFields::decode<DeviceExchange>(json);
        if (failingPath.isEmpty()) {
            QVERIFY(exchange.has_value());
            QCOMPARE(exchange->credential, u"twk_device_x"_s);
            QCOMPARE(exchange->device.id, deviceId);
        } else {
            QVERIFY(!exchange);
            QVERIFY2(exchange.error().description.contains(u'"' + failingPath + u'"'),
                     qPrintable(exchange.error().description));
        }
    }

    void decodesActivity_data()
    {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<QString>("failingPath");
        QTest::addColumn<bool>("hasRunning");
        QTest::addColumn<int>("recentCount");

        const QByteArray running = R"({"taskId":"11111111-2222-4333-8444-555555555555","label":"Fix login",)"
                                   R"("provider":"codex","startedAt":"2026-01-02T03:04:05Z","extra":1})";
        QTest::newRow("running null") << QByteArray(R"({"running":null,"recent":[]})") << QString() << false << 0;
        QTest::newRow("running missing") << QByteArray(R"({"recent":[]})") << QString() << false << 0;
        QTest::newRow("running and recent")
            << R"({"running":)" + running + R"(,"recent":[)" + recent("aaaaaaaa-bbbb-4ccc-8ddd-eeeeeeeeeeee", "One")
                   + "," + recent("11111111-2222-4333-8444-555555555555", "Two") + "]}"
            << QString() << true << 2;
        QTest::newRow("recent missing") << QByteArray(R"({"running":null})") << u"recent"_s << false << 0;
        QTest::newRow("recent null") << QByteArray(R"({"recent":null})") << u"recent"_s << false << 0;
        QTest::newRow("recent an object") << QByteArray(R"({"recent":{}})") << u"recent"_s << false << 0;
        QTest::newRow("recent element without completedAt")
            << R"({"recent":[)" + recent("aaaaaaaa-bbbb-4ccc-8ddd-eeeeeeeeeeee", "One")
                   + R"(,{"taskId":"11111111-2222-4333-8444-555555555555","label":"x","status":"failed"}]})"
            << u"recent[1].completedAt"_s << false << 0;
        QTest::newRow("recent element with a bad taskId")
            << R"({"recent":[)" + recent("not-a-uuid", "One") + "]}" << u"recent[0].taskId"_s << false << 0;
        QTest::newRow("recent element not an object") << QByteArray(R"({"recent":[3]})") << u"recent[0]"_s << false
                                                      << 0;
        QTest::newRow("running incomplete")
            << QByteArray(R"({"running":{"taskId":"11111111-2222-4333-8444-555555555555"},"recent":[]})")
            << u"running.label"_s << false << 0;
    }

    void decodesActivity()
    {
        QFETCH(QByteArray, json);
        QFETCH(QString, failingPath);
        QFETCH(bool, hasRunning);
        QFETCH(int, recentCount);
        const Result<DeviceTaskActivity> activity = JsonFields::decode<DeviceTaskActivity>(json);
        if (!failingPath.isEmpty()) {
            QVERIFY(!activity);
            QVERIFY2(activity.error().description.contains(u'"' + failingPath + u'"'),
                     qPrintable(activity.error().description));
            return;
        }
        QVERIFY(activity.has_value());
        QCOMPARE(activity->running.has_value(), hasRunning);
        QCOMPARE(activity->recent.size(), recentCount);
    }

    void recentTasksKeepOrderAndDuplicates()
    {
        const QByteArray json = R"({"recent":[)" + recent("aaaaaaaa-bbbb-4ccc-8ddd-eeeeeeeeeeee", "B") + ","
            + recent("11111111-2222-4333-8444-555555555555", "A") + ","
            + recent("AAAAAAAA-BBBB-4CCC-8DDD-EEEEEEEEEEEE", "B again") + "]}";
        const Result<DeviceTaskActivity> activity = JsonFields::decode<DeviceTaskActivity>(json);
        QVERIFY(activity.has_value());
        QCOMPARE(activity->recent.size(), 3);
        QCOMPARE(activity->recent.at(0).taskId, taskB);
        QCOMPARE(activity->recent.at(1).taskId, taskA);
        QCOMPARE(activity->recent.at(2).taskId, taskB);
        QCOMPARE(activity->recent.at(2).label, u"B again"_s);
    }

    void recordsSurviveEncoding()
    {
        const Device device{deviceId, u"Desk"_s, u"linux"_s, u"x86_64"_s, u"0.3.0"_s, std::nullopt, true};
        const DeviceExchange exchange{u"twk_device_x"_s, device};
        const QJsonObject encoded = exchange.toJson();
        QVERIFY(!encoded.value(u"device"_s).toObject().contains(u"lastSeenAt"_s));
        QCOMPARE(encoded.value(u"device"_s).toObject().value(u"id"_s).toString(),
                 u"6F1C2A3B-4D5E-4F60-8A9B-0C1D2E3F4A5B"_s);
        QCOMPARE(JsonFields::decode<DeviceExchange>(QJsonDocument(encoded).toJson()), exchange);

        const DeviceTaskActivity activity{
            RunningDeviceTask{taskA, u"Fix login"_s, u"claude"_s, u"now"_s},
            {RecentDeviceTask{taskB, u"Tests"_s, u"failed"_s, u"then"_s}}};
        QCOMPARE(JsonFields::decode<DeviceTaskActivity>(QJsonDocument(activity.toJson()).toJson()), activity);
        QVERIFY(!DeviceTaskActivity{}.toJson().contains(u"running"_s));
    }

    void dashboardLinks_data()
    {
        QTest::addColumn<QUrl>("base");
        QTest::addColumn<QString>("link");
        QTest::newRow("path and query dropped")
            << QUrl(u"https://service.example/any/path?x=1"_s)
            << u"https://service.example/?task=AAAAAAAA-BBBB-4CCC-8DDD-EEEEEEEEEEEE"_s;
        QTest::newRow("port kept") << QUrl(u"http://127.0.0.1:8787"_s)
                                   << u"http://127.0.0.1:8787/?task=AAAAAAAA-BBBB-4CCC-8DDD-EEEEEEEEEEEE"_s;
        QTest::newRow("relative") << QUrl(u"dashboard"_s) << QString();
        QTest::newRow("empty") << QUrl() << QString();
    }

    void dashboardLinks()
    {
        QFETCH(QUrl, base);
        QFETCH(QString, link);
        const QUuid lowerCaseId = QUuid::fromString(u"aaaaaaaa-bbbb-4ccc-8ddd-eeeeeeeeeeee"_s);
        const std::optional<QUrl> made = DashboardLinks::task(base, lowerCaseId);
        QCOMPARE(made.has_value(), !link.isEmpty());
        if (made)
            QCOMPARE(made->toString(QUrl::FullyEncoded), link);
    }

    // The success path runs against the real keyring in tst_pairingroundtrip; a failing keyring is staged here.
    void persisterSavesOnceAndPassesTheStoreFailureOn()
    {
        RecordingStore store;
        const Error locked{u"KeychainError"_s, -25308, u"Keychain access failed (-25308)."_s};
        store.outcome = failure(locked);
        const PairingCredentialPersister persister(store);
        const Result<void> result = persister.persist(DeviceExchange{u"twk_device_c"_s, Device{}});
        QVERIFY(!result);
        QCOMPARE(result.error(), locked);
        QCOMPARE(store.saved, QStringList{u"twk_device_c"_s});
    }
};

QTEST_GUILESS_MAIN(TestDeviceRecords)
#include "tst_devicerecords.moc"
