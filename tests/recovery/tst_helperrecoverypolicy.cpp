#include "recovery/HelperRecoveryPolicy.h"

#include <QTest>

using namespace Qt::StringLiterals;

namespace {

const QDateTime now(QDate(2026, 1, 31), QTime(9, 15), Qt::UTC);

std::optional<HelperStatus> status(HelperStatus::State state, std::optional<qint64> heartbeatAgeMs,
                                   std::optional<QString> error = std::nullopt)
{
    std::optional<QDateTime> heartbeat;
    if (heartbeatAgeMs)
        heartbeat = now.addMSecs(-*heartbeatAgeMs);
    return HelperStatus(state, heartbeat, error);
}

} // namespace

Q_DECLARE_METATYPE(LoginItemState)
Q_DECLARE_METATYPE(std::optional<HelperStatus>)
Q_DECLARE_METATYPE(HelperRecoveryAction)

class TestHelperRecoveryPolicy : public QObject
{
    Q_OBJECT

private Q_SLOTS:
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
        QTest::newRow("not found, starting up") << L::notFound << false << absent << A::reinstall;
        QTest::newRow("not found, fresh status") << L::notFound << true << fresh << A::reinstall;
        QTest::newRow("not found, stopped") << L::notFound << true << status(S::stopped, 0) << A::reinstall;
        QTest::newRow("switched off, fresh status") << L::requiresApproval << true << fresh
                                                    << A::enableInSystemSettings;
        QTest::newRow("switched off, starting up") << L::requiresApproval << false << absent
                                                   << A::enableInSystemSettings;
        QTest::newRow("grace period, no status") << L::enabled << false << absent << A::none;
        QTest::newRow("grace period, stopped") << L::enabled << false << status(S::stopped, 0) << A::none;
        QTest::newRow("no status") << L::enabled << true << absent << A::restart;
        QTest::newRow("starting, fresh heartbeat") << L::enabled << true << status(S::starting, 0) << A::restart;
        QTest::newRow("needs attention") << L::enabled << true << status(S::needsAttention, 0) << A::restart;
        QTest::newRow("stopped") << L::enabled << true << status(S::stopped, 0) << A::restart;
        QTest::newRow("connected, no heartbeat") << L::enabled << true << status(S::connected, std::nullopt)
                                                 << A::restart;
        QTest::newRow("connected, heartbeat 45 s old") << L::enabled << true << status(S::connected, 45'000)
                                                       << A::none;
        QTest::newRow("connected, heartbeat 45.001 s old") << L::enabled << true << status(S::connected, 45'001)
                                                           << A::restart;
        QTest::newRow("connected, heartbeat in the future") << L::enabled << true << status(S::connected, -60'000)
                                                            << A::none;
        QTest::newRow("connected with an error text")
            << L::enabled << true << status(S::connected, 1'000, u"Runner exited unexpectedly."_s) << A::none;
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
