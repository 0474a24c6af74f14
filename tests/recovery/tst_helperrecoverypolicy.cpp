#include "recovery/HelperRecoveryPolicy.h"

#include <QTest>

namespace {

const QDateTime now(QDate(2026, 1, 31), QTime(9, 15), Qt::UTC);

std::optional<HelperStatus> status(HelperStatus::State state, std::optional<qint64> heartbeatAgeMs)
{
    return HelperStatus(state, heartbeatAgeMs ? std::optional(now.addMSecs(-*heartbeatAgeMs)) : std::nullopt);
}

} // namespace

Q_DECLARE_METATYPE(std::optional<HelperStatus>)

class TestHelperRecoveryPolicy : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // The login item decides first; after the grace period only a fresh connected status needs nothing.
    void action_data()
    {
        QTest::addColumn<LoginItemState>("loginItem");
        QTest::addColumn<bool>("gracePeriodElapsed");
        QTest::addColumn<std::optional<HelperStatus>>("helperStatus");
        QTest::addColumn<HelperRecoveryAction>("action");
        using L = LoginItemState;
        using S = HelperStatus::State;
        using A = HelperRecoveryAction;
        const std::optional<HelperStatus> absent;
        const auto fresh = status(S::connected, 10'000);
        QTest::newRow("not registered, starting up") << L::notRegistered << false << absent << A::registerHelper;
        QTest::newRow("not registered, fresh status") << L::notRegistered << true << fresh << A::registerHelper;
        QTest::newRow("not found, fresh status") << L::notFound << true << fresh << A::reinstall;
        QTest::newRow("switched off, fresh status") << L::requiresApproval << true << fresh
                                                    << A::enableInSystemSettings;
        QTest::newRow("grace period, no status") << L::enabled << false << absent << A::none;
        QTest::newRow("grace period, stopped") << L::enabled << false << status(S::stopped, 0) << A::none;
        QTest::newRow("no status") << L::enabled << true << absent << A::restart;
        QTest::newRow("starting, fresh heartbeat") << L::enabled << true << status(S::starting, 0) << A::restart;
        QTest::newRow("needs attention") << L::enabled << true << status(S::needsAttention, 0) << A::restart;
        QTest::newRow("stopped") << L::enabled << true << status(S::stopped, 0) << A::restart;
        QTest::newRow("connected, no heartbeat") << L::enabled << true << status(S::connected, std::nullopt)
                                                 << A::restart;
        QTest::newRow("connected, 45 s old") << L::enabled << true << status(S::connected, 45'000) << A::none;
        QTest::newRow("connected, 46 s old") << L::enabled << true << status(S::connected, 46'000) << A::restart;
    }

    void action()
    {
        QFETCH(LoginItemState, loginItem);
        QFETCH(bool, gracePeriodElapsed);
        QFETCH(std::optional<HelperStatus>, helperStatus);
        QFETCH(HelperRecoveryAction, action);
        QCOMPARE(HelperRecoveryPolicy::action(loginItem, helperStatus, gracePeriodElapsed, now), action);
    }
};

QTEST_GUILESS_MAIN(TestHelperRecoveryPolicy)
#include "tst_helperrecoverypolicy.moc"
