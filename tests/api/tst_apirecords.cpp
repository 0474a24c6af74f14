// What the service's answers decode to, and the dashboard link of a task.

#include "api/DashboardLinks.h"
#include "api/DeviceExchange.h"
#include "api/DeviceTaskActivity.h"
#include "common/JsonObjectReader.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

const QString idA = u"0f8fad5b-d9cb-469f-a165-70867728950e"_s;
const QString idB = u"7c9e6679-7425-40de-944b-e07fc1f90ae7"_s;

// A device object with `changes` applied: a null value removes the member.
QJsonObject deviceObject(const QVariantMap &changes = {})
{
    QJsonObject device{{u"id"_s, idA.toUpper()},
                       {u"name"_s, u"Studio Mac"_s},
                       {u"platform"_s, u"macos"_s},
                       {u"architecture"_s, u"arm64"_s},
                       {u"appVersion"_s, u"0.3.0"_s},
                       {u"lastSeenAt"_s, u"2026-03-01T12:00:00Z"_s},
                       {u"online"_s, true}};
    for (auto it = changes.cbegin(); it != changes.cend(); ++it) {
        if (it->isNull())
            device.remove(it.key());
        else
            device.insert(it.key(), QJsonValue::fromVariant(*it));
    }
    return device;
}
QByteArray bytes(const QJsonObject &object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}
QJsonObject recentTask(const QString &id, const QString &label)
{
    return {{u"taskId"_s, id}, {u"label"_s, label}, {u"status"_s, u"done"_s}, {u"completedAt"_s, u"yesterday"_s}};
}
QJsonObject runningTask()
{
    return {
        {u"taskId"_s, idA}, {u"label"_s, u"Fix the build"_s}, {u"provider"_s, u"codex"_s}, {u"startedAt"_s, u"now"_s}};
}

} // namespace

class TestApiRecords : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // Rows: the device's changes, whether it decodes, and its lastSeenAt when it does.
    void device_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<bool>("decodes");
        QTest::addColumn<std::optional<QString>>("lastSeenAt");
        const auto none = std::optional<QString>();
        QTest::newRow("complete") << bytes(deviceObject()) << true << std::optional(u"2026-03-01T12:00:00Z"_s);
        QTest::newRow("lastSeenAt missing") << bytes(deviceObject({{u"lastSeenAt"_s, QVariant()}})) << true << none;
        QJsonObject nullDate = deviceObject();
        nullDate.insert(u"lastSeenAt"_s, QJsonValue::Null);
        QTest::newRow("lastSeenAt null") << bytes(nullDate) << true << none;
        QTest::newRow("lower-case id, unknown member")
            << bytes(deviceObject({{u"id"_s, idA}, {u"colour"_s, u"blue"_s}})) << true
            << std::optional(u"2026-03-01T12:00:00Z"_s);
        QTest::newRow("online missing") << bytes(deviceObject({{u"online"_s, QVariant()}})) << false << none;
        QTest::newRow("id not a UUID") << bytes(deviceObject({{u"id"_s, u"mac-1"_s}})) << false << none;
        QTest::newRow("online a string") << bytes(deviceObject({{u"online"_s, u"yes"_s}})) << false << none;
    }
    void device()
    {
        QFETCH(QByteArray, body);
        QFETCH(bool, decodes);
        QFETCH(std::optional<QString>, lastSeenAt);
        const Result<Device> device = JsonObjectReader::decode<Device>(body);
        QCOMPARE(device.has_value(), decodes);
        if (!decodes)
            return;
        QCOMPARE(device->id, QUuid(idA));
        QCOMPARE(device->lastSeenAt, lastSeenAt);
        QVERIFY(device->online);
    }

    void exchange_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<bool>("decodes");
        const QJsonObject device = deviceObject({{u"lastSeenAt"_s, QVariant()}});
        QTest::newRow("credential and device")
            << bytes({{u"credential"_s, u"twk_device_x"_s}, {u"device"_s, device}}) << true;
        QTest::newRow("no credential") << bytes({{u"device"_s, device}}) << false;
        QTest::newRow("no device") << bytes({{u"credential"_s, u"twk_device_x"_s}}) << false;
        QTest::newRow("device without online")
            << bytes({{u"credential"_s, u"c"_s}, {u"device"_s, deviceObject({{u"online"_s, QVariant()}})}}) << false;
    }
    void exchange()
    {
        QFETCH(QByteArray, body);
        QFETCH(bool, decodes);
        const Result<DeviceExchange> exchange = JsonObjectReader::decode<DeviceExchange>(body);
        QCOMPARE(exchange.has_value(), decodes);
        if (decodes)
            QCOMPARE(exchange->credential, u"twk_device_x"_s);
    }

    // Rows: the body, and the labels of the recent tasks it decodes to ("-" when it fails).
    void activity_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<bool>("running");
        QTest::addColumn<QStringList>("recent");
        const QStringList fails{u"-"_s};
        const QJsonValue null(QJsonValue::Null);
        QJsonObject withoutDate = recentTask(idA, u"A"_s);
        withoutDate.remove(u"completedAt"_s);
        QTest::newRow("nothing") << bytes({{u"recent"_s, QJsonArray()}}) << false << QStringList();
        QTest::newRow("running null") << bytes({{u"running"_s, null}, {u"recent"_s, QJsonArray()}}) << false
                                      << QStringList();
        QTest::newRow("running") << bytes({{u"running"_s, runningTask()}, {u"recent"_s, QJsonArray()}}) << true
                                 << QStringList();
        QTest::newRow("order and duplicates kept")
            << bytes({{u"recent"_s,
                       QJsonArray{recentTask(idB, u"B"_s), recentTask(idA, u"A"_s), recentTask(idB, u"B again"_s)}}})
            << false << QStringList{u"B"_s, u"A"_s, u"B again"_s};
        QTest::newRow("recent missing") << bytes({{u"running"_s, runningTask()}}) << false << fails;
        QTest::newRow("recent null") << bytes({{u"recent"_s, null}}) << false << fails;
        QTest::newRow("recent task without completedAt")
            << bytes({{u"recent"_s, QJsonArray{withoutDate}}}) << false << fails;
        QTest::newRow("recent task id not a UUID")
            << bytes({{u"recent"_s, QJsonArray{recentTask(u"task-1"_s, u"A"_s)}}}) << false << fails;
        QTest::newRow("running incomplete")
            << bytes({{u"running"_s, QJsonObject{{u"taskId"_s, idA}}}, {u"recent"_s, QJsonArray()}}) << false << fails;
    }
    void activity()
    {
        QFETCH(QByteArray, body);
        QFETCH(bool, running);
        QFETCH(QStringList, recent);
        const Result<DeviceTaskActivity> activity = JsonObjectReader::decode<DeviceTaskActivity>(body);
        QCOMPARE(activity.has_value(), recent != QStringList{u"-"_s});
        if (!activity)
            return;
        QCOMPARE(activity->running.has_value(), running);
        QStringList labels;
        for (const RecentDeviceTask &task : activity->recent)
            labels.append(task.label);
        QCOMPARE(labels, recent);
    }

    void dashboardTaskLink_data()
    {
        QTest::addColumn<QString>("base");
        QTest::addColumn<QString>("link");
        const QString task = u"?task="_s + idA.toUpper();
        QTest::newRow("plain") << u"https://service.example"_s << u"https://service.example/"_s + task;
        QTest::newRow("path and query dropped") << u"https://service.example:8443/any/path?x=1#top"_s
                                                << u"https://service.example:8443/"_s + task + u"#top"_s;
        QTest::newRow("relative") << u"/dashboard"_s << QString();
    }
    void dashboardTaskLink()
    {
        QFETCH(QString, base);
        QFETCH(QString, link);
        const std::optional<QUrl> made = DashboardLinks::task(QUrl(base), QUuid(idA));
        QCOMPARE(made ? made->toString() : QString(), link);
    }
};

QTEST_APPLESS_MAIN(TestApiRecords)
#include "tst_apirecords.moc"
