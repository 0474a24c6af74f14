// What the service's answers decode to, and the dashboard link of a task.

#include "api/DashboardLinks.h"
#include "api/DeviceExchange.h"
#include "api/DeviceTaskActivity.h"
#include "common/JsonObjectReader.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QTest>

namespace {

const QString idA = QStringLiteral("0f8fad5b-d9cb-469f-a165-70867728950e");
const QString idB = QStringLiteral("7c9e6679-7425-40de-944b-e07fc1f90ae7");

// A device object with `changes` applied: a null value removes the member.
QJsonObject deviceObject(const QVariantMap &changes = {})
{
    QJsonObject device{{QStringLiteral("id"), idA.toUpper()},
                       {QStringLiteral("name"), QStringLiteral("Studio Mac")},
                       {QStringLiteral("platform"), QStringLiteral("macos")},
                       {QStringLiteral("architecture"), QStringLiteral("arm64")},
                       {QStringLiteral("appVersion"), QStringLiteral("0.3.0")},
                       {QStringLiteral("lastSeenAt"), QStringLiteral("2026-03-01T12:00:00Z")},
                       {QStringLiteral("online"), true}};
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
    return {{QStringLiteral("taskId"), id},
            {QStringLiteral("label"), label},
            {QStringLiteral("status"), QStringLiteral("done")},
            {QStringLiteral("completedAt"), QStringLiteral("yesterday")}};
}
QJsonObject runningTask()
{
    return {{QStringLiteral("taskId"), idA},
            {QStringLiteral("label"), QStringLiteral("Fix the build")},
            {QStringLiteral("provider"), QStringLiteral("codex")},
            {QStringLiteral("startedAt"), QStringLiteral("now")}};
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
        QTest::newRow("complete") << bytes(deviceObject()) << true
                                  << std::optional(QStringLiteral("2026-03-01T12:00:00Z"));
        QTest::newRow("lastSeenAt missing")
            << bytes(deviceObject({{QStringLiteral("lastSeenAt"), QVariant()}})) << true << none;
        QJsonObject nullDate = deviceObject();
        nullDate.insert(QStringLiteral("lastSeenAt"), QJsonValue::Null);
        QTest::newRow("lastSeenAt null") << bytes(nullDate) << true << none;
        QTest::newRow("lower-case id, unknown member")
            << bytes(deviceObject({{QStringLiteral("id"), idA}, {QStringLiteral("colour"), QStringLiteral("blue")}}))
            << true << std::optional(QStringLiteral("2026-03-01T12:00:00Z"));
        QTest::newRow("online missing") << bytes(deviceObject({{QStringLiteral("online"), QVariant()}})) << false
                                        << none;
        QTest::newRow("id not a UUID") << bytes(deviceObject({{QStringLiteral("id"), QStringLiteral("mac-1")}}))
                                       << false << none;
        QTest::newRow("online a string") << bytes(deviceObject({{QStringLiteral("online"), QStringLiteral("yes")}}))
                                         << false << none;
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
        const QJsonObject device = deviceObject({{QStringLiteral("lastSeenAt"), QVariant()}});
        QTest::newRow("credential and device") << bytes(
            {{QStringLiteral("credential"), QStringLiteral("twk_device_x")}, {QStringLiteral("device"), device}})
                                               << true;
        QTest::newRow("no credential") << bytes({{QStringLiteral("device"), device}}) << false;
        QTest::newRow("no device") << bytes({{QStringLiteral("credential"), QStringLiteral("twk_device_x")}}) << false;
        QTest::newRow("device without online")
            << bytes({{QStringLiteral("credential"), QStringLiteral("c")},
                      {QStringLiteral("device"), deviceObject({{QStringLiteral("online"), QVariant()}})}})
            << false;
    }
    void exchange()
    {
        QFETCH(QByteArray, body);
        QFETCH(bool, decodes);
        const Result<DeviceExchange> exchange = JsonObjectReader::decode<DeviceExchange>(body);
        QCOMPARE(exchange.has_value(), decodes);
        if (decodes)
            QCOMPARE(exchange->credential, QStringLiteral("twk_device_x"));
    }

    // Rows: the body, and the labels of the recent tasks it decodes to ("-" when it fails).
    void activity_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<bool>("running");
        QTest::addColumn<QStringList>("recent");
        const QStringList fails{QStringLiteral("-")};
        const QJsonValue null(QJsonValue::Null);
        QJsonObject withoutDate = recentTask(idA, QStringLiteral("A"));
        withoutDate.remove(QStringLiteral("completedAt"));
        QTest::newRow("nothing") << bytes({{QStringLiteral("recent"), QJsonArray()}}) << false << QStringList();
        QTest::newRow("running null") << bytes(
            {{QStringLiteral("running"), null}, {QStringLiteral("recent"), QJsonArray()}})
                                      << false << QStringList();
        QTest::newRow("running") << bytes(
            {{QStringLiteral("running"), runningTask()}, {QStringLiteral("recent"), QJsonArray()}})
                                 << true << QStringList();
        QTest::newRow("order and duplicates kept")
            << bytes({{QStringLiteral("recent"),
                       QJsonArray{recentTask(idB, QStringLiteral("B")), recentTask(idA, QStringLiteral("A")),
                                  recentTask(idB, QStringLiteral("B again"))}}})
            << false << QStringList{QStringLiteral("B"), QStringLiteral("A"), QStringLiteral("B again")};
        QTest::newRow("recent missing") << bytes({{QStringLiteral("running"), runningTask()}}) << false << fails;
        QTest::newRow("recent null") << bytes({{QStringLiteral("recent"), null}}) << false << fails;
        QTest::newRow("recent task without completedAt")
            << bytes({{QStringLiteral("recent"), QJsonArray{withoutDate}}}) << false << fails;
        QTest::newRow("recent task id not a UUID") << bytes(
            {{QStringLiteral("recent"), QJsonArray{recentTask(QStringLiteral("task-1"), QStringLiteral("A"))}}})
                                                   << false << fails;
        QTest::newRow("running incomplete")
            << bytes({{QStringLiteral("running"), QJsonObject{{QStringLiteral("taskId"), idA}}},
                      {QStringLiteral("recent"), QJsonArray()}})
            << false << fails;
    }
    void activity()
    {
        QFETCH(QByteArray, body);
        QFETCH(bool, running);
        QFETCH(QStringList, recent);
        const Result<DeviceTaskActivity> activity = JsonObjectReader::decode<DeviceTaskActivity>(body);
        QCOMPARE(activity.has_value(), recent != QStringList{QStringLiteral("-")});
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
        const QString task = QStringLiteral("?task=") + idA.toUpper();
        QTest::newRow("plain") << QStringLiteral("https://service.example")
                               << QStringLiteral("https://service.example/") + task;
        QTest::newRow("path and query dropped")
            << QStringLiteral("https://service.example:8443/any/path?x=1#top")
            << QStringLiteral("https://service.example:8443/") + task + QStringLiteral("#top");
        QTest::newRow("relative") << QStringLiteral("/dashboard") << QString();
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
