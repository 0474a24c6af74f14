#include "menu/MenuActivityCache.h"

#include <QTest>
#include <QUuid>

using namespace Qt::StringLiterals;

namespace {

DeviceTaskActivity activityWith(const QString &label)
{
    return DeviceTaskActivity{
        RunningDeviceTask{QUuid::createUuid(), label, u"codex"_s, u"2026-01-31T09:00:00Z"_s},
        {RecentDeviceTask{QUuid::createUuid(), u"Earlier"_s, u"completed"_s, u"2026-01-31T08:00:00Z"_s}},
    };
}

} // namespace

class TestMenuActivityCache : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void startsEmpty()
    {
        QCOMPARE(MenuActivityCache(), (MenuActivityCache{std::nullopt, false}));
    }

    void failureKeepsTheLastActivityUntilTheNextSuccess()
    {
        const DeviceTaskActivity first = activityWith(u"Fix the build"_s);
        const DeviceTaskActivity second = activityWith(u"Write the notes"_s);
        MenuActivityCache cache;

        cache.recordFailure();
        QCOMPARE(cache, (MenuActivityCache{std::nullopt, true}));
        cache.recordSuccess(first);
        QCOMPARE(cache, (MenuActivityCache{first, false}));
        cache.recordFailure();
        QCOMPARE(cache, (MenuActivityCache{first, true}));
        cache.recordSuccess(second);
        QCOMPARE(cache, (MenuActivityCache{second, false}));
    }

    void successWithoutTasksReplacesTheActivity()
    {
        MenuActivityCache cache{activityWith(u"Fix the build"_s), true};

        cache.recordSuccess(DeviceTaskActivity{});

        QCOMPARE(cache, (MenuActivityCache{DeviceTaskActivity{}, false}));
    }
};

QTEST_GUILESS_MAIN(TestMenuActivityCache)
#include "tst_menuactivitycache.moc"
