// What the service's answers decode to, and the dashboard link of a task.

#include "api/DashboardLinks.h"
#include "api/DeviceExchange.h"
#include "api/DeviceTaskActivity.h"
#include "common/JsonObjectReader.h"

#include <QTest>

namespace {

const QString idA = QStringLiteral("0f8fad5b-d9cb-469f-a165-70867728950e");
const QByteArray idB = "7c9e6679-7425-40de-944b-e07fc1f90ae7";

QString describe(const Device &device)
{
    return device.id.toString(QUuid::WithoutBraces) + u' ' + device.lastSeenAt.value_or(QStringLiteral("never"))
           + (device.online ? QString() : QStringLiteral(" offline"));
}

QString describe(const DeviceExchange &exchange)
{
    return exchange.credential + u' ' + describe(exchange.device);
}

QString describe(const DeviceTaskActivity &activity)
{
    QStringList parts(activity.running ? QStringList{QStringLiteral("running")} : QStringList());
    for (const RecentDeviceTask &task : activity.recent)
        parts.append(task.label);
    return parts.join(QStringLiteral(", "));
}

// The body decoded as a `Record`, in a few words; "-" when it is refused.
using Decoder = QString (*)(const QByteArray &);
template<typename Record>
QString decodeAs(const QByteArray &body)
{
    const Result<Record> record = JsonObjectReader::decode<Record>(body);
    return record ? describe(*record) : QStringLiteral("-");
}

// The link to task A's page on the dashboard at the base URL `base`; "-" when there is none.
QString dashboardLink(const QByteArray &base)
{
    const std::optional<QUrl> link = DashboardLinks::task(QUrl(QString::fromUtf8(base)), QUuid(idA));
    return link ? link->toString() : QStringLiteral("-");
}

// JSON written with single quotes, which read more easily in C++ strings.
QByteArray json(const char *text)
{
    return QByteArray(text).replace('\'', '"');
}

QByteArray device(const QByteArray &members, const QString &id = idA.toUpper())
{
    return json("{'id':'") + id.toLatin1() + json("','name':'Studio Mac','platform':'macos','architecture':'arm64',")
           + json("'appVersion':'0.3.0'") + members + '}';
}

QByteArray recent(const QByteArray &id, const QByteArray &label)
{
    return json("{'taskId':'") + id + json("','label':'") + label
           + json("','status':'done','completedAt':'yesterday'}");
}

} // namespace

Q_DECLARE_METATYPE(Decoder)

class TestApiRecords : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void decode_data()
    {
        QTest::addColumn<Decoder>("decoder");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("decoded");
        const Decoder asDevice = decodeAs<Device>;
        const Decoder asExchange = decodeAs<DeviceExchange>;
        const Decoder asActivity = decodeAs<DeviceTaskActivity>;
        const QByteArray online = json(",'online':true");
        const QByteArray seen = json(",'lastSeenAt':'2026-03-01T12:00:00Z'");
        const QString neverSeen = idA + QStringLiteral(" never");
        const QByteArray running = json("'running':{'taskId':'") + idA.toLatin1()
                                   + json("','label':'Fix','provider':'codex','startedAt':'now'}");
        const QByteArray withoutCompletion = json("{'taskId':'") + idB + json("','label':'B','status':'done'}");

        QTest::newRow("device") << asDevice << device(seen + online) << idA + QStringLiteral(" 2026-03-01T12:00:00Z");
        QTest::newRow("lastSeenAt missing") << asDevice << device(online) << neverSeen;
        QTest::newRow("lastSeenAt null") << asDevice << device(json(",'lastSeenAt':null") + online) << neverSeen;
        QTest::newRow("lower-case id, unknown member")
            << asDevice << device(online + json(",'colour':'blue'"), idA) << neverSeen;
        QTest::newRow("online missing") << asDevice << device(seen) << QStringLiteral("-");
        QTest::newRow("id not a UUID") << asDevice << device(online, QStringLiteral("mac-1")) << QStringLiteral("-");

        QTest::newRow("exchange") << asExchange << json("{'credential':'twk_x','device':") + device(online) + '}'
                                  << QStringLiteral("twk_x ") + neverSeen;
        QTest::newRow("no credential") << asExchange << json("{'device':") + device(online) + '}'
                                       << QStringLiteral("-");
        QTest::newRow("device refused") << asExchange << json("{'credential':'twk_x','device':") + device(seen) + '}'
                                        << QStringLiteral("-");

        QTest::newRow("nothing") << asActivity << json("{'running':null,'recent':[]}") << QString();
        QTest::newRow("running") << asActivity << "{" + running + json(",'recent':[]}") << QStringLiteral("running");
        QTest::newRow("order and duplicates kept")
            << asActivity
            << json("{'recent':[") + recent(idB, "B") + ',' + recent(idA.toLatin1(), "A") + ',' + recent(idB, "B again")
                   + "]}"
            << QStringLiteral("B, A, B again");
        QTest::newRow("recent missing") << asActivity << "{" + running + '}' << QStringLiteral("-");
        QTest::newRow("recent null") << asActivity << json("{'recent':null}") << QStringLiteral("-");
        QTest::newRow("recent task without completedAt")
            << asActivity << json("{'recent':[") + withoutCompletion + "]}" << QStringLiteral("-");
        QTest::newRow("recent task id not a UUID")
            << asActivity << json("{'recent':[") + recent("task-1", "A") + "]}" << QStringLiteral("-");
        QTest::newRow("running incomplete")
            << asActivity << json("{'running':{'taskId':'") + idB + json("'},'recent':[]}") << QStringLiteral("-");

        const Decoder link = dashboardLink;
        QTest::newRow("link, path and query dropped")
            << link << QByteArray("https://service.example:8443/any/path?x=1#top")
            << QStringLiteral("https://service.example:8443/?task=") + idA.toUpper() + QStringLiteral("#top");
        QTest::newRow("link, relative base") << link << QByteArray("/dashboard") << QStringLiteral("-");
    }

    void decode()
    {
        QFETCH(Decoder, decoder);
        QFETCH(QByteArray, body);
        QFETCH(QString, decoded);
        QCOMPARE(decoder(body), decoded);
    }
};

QTEST_APPLESS_MAIN(TestApiRecords)
#include "tst_apirecords.moc"
