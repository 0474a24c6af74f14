#include "menu/MenuActivityCache.h"
#include "menu/MenuStatusPresentation.h"

#include <QTest>
#include <QUuid>

using namespace Qt::StringLiterals;

namespace {

const QDateTime now(QDate(2026, 1, 31), QTime(9, 15), Qt::UTC);

std::optional<HelperStatus> status(HelperStatus::State state, std::optional<qint64> heartbeatAgeMs)
{
    return HelperStatus(state, heartbeatAgeMs ? std::optional(now.addMSecs(-*heartbeatAgeMs)) : std::nullopt);
}

} // namespace

Q_DECLARE_METATYPE(std::optional<HelperStatus>)

class TestMenu : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void statusPresentation_data()
    {
        QTest::addColumn<std::optional<HelperStatus>>("helperStatus");
        QTest::addColumn<LoginItemState>("loginItem");
        QTest::addColumn<bool>("credentialInvalid");
        QTest::addColumn<MenuStatusPresentation>("presentation");
        using L = LoginItemState;
        using S = HelperStatus::State;
        const MenuStatusPresentation ready{u"Ready for tasks"_s, u"laptopcomputer"_s};
        const MenuStatusPresentation starting{u"Starting runner…"_s, u"laptopcomputer"_s};
        const MenuStatusPresentation attention{u"Needs attention"_s, u"exclamationmark.triangle.fill"_s};
        const auto fresh = status(S::connected, 5'000);
        const std::optional<HelperStatus> absent;
        QTest::newRow("credential rejected, fresh status") << fresh << L::enabled << true << attention;
        QTest::newRow("credential rejected, no status") << absent << L::enabled << true << attention;
        QTest::newRow("switched off") << fresh << L::requiresApproval << false << attention;
        QTest::newRow("not registered, no status") << absent << L::notRegistered << false << attention;
        QTest::newRow("not found") << fresh << L::notFound << false << attention;
        QTest::newRow("no status") << absent << L::enabled << false << starting;
        QTest::newRow("stopped") << status(S::stopped, 0) << L::enabled << false << attention;
        QTest::newRow("needs attention") << status(S::needsAttention, 0) << L::enabled << false << attention;
        QTest::newRow("starting") << status(S::starting, 0) << L::enabled << false << starting;
        QTest::newRow("connected, 45 s") << status(S::connected, 45'000) << L::enabled << false << ready;
        QTest::newRow("connected, 46 s") << status(S::connected, 46'000) << L::enabled << false << starting;
        QTest::newRow("connected, no heartbeat") << status(S::connected, std::nullopt) << L::enabled << false
                                                 << starting;
    }

    void statusPresentation()
    {
        QFETCH(std::optional<HelperStatus>, helperStatus);
        QFETCH(LoginItemState, loginItem);
        QFETCH(bool, credentialInvalid);
        QFETCH(MenuStatusPresentation, presentation);
        QCOMPARE(MenuStatusPresentation::make(helperStatus, loginItem, credentialInvalid, now), presentation);
    }

    // A failed fetch keeps the last activity until the next success replaces it, even by an empty one.
    void activityCacheKeepsTheLastSuccess()
    {
        const DeviceTaskActivity first{
            RunningDeviceTask{QUuid::createUuid(), u"Fix the build"_s, u"codex"_s, u"2026-01-31T09:00:00Z"_s},
            {RecentDeviceTask{QUuid::createUuid(), u"Earlier"_s, u"completed"_s, u"2026-01-31T08:00:00Z"_s}}};
        MenuActivityCache cache;
        QCOMPARE(cache, (MenuActivityCache{std::nullopt, false}));
        cache.recordFailure();
        QCOMPARE(cache, (MenuActivityCache{std::nullopt, true}));
        cache.recordSuccess(first);
        QCOMPARE(cache, (MenuActivityCache{first, false}));
        cache.recordFailure();
        QCOMPARE(cache, (MenuActivityCache{first, true}));
        cache.recordSuccess(DeviceTaskActivity{});
        QCOMPARE(cache, (MenuActivityCache{DeviceTaskActivity{}, false}));
    }
};

QTEST_GUILESS_MAIN(TestMenu)
#include "tst_menu.moc"
