#include "menu/AttentionNotice.h"
#include "menu/MenuStatusPresentation.h"
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
using Notice = AttentionNotice::Action;
Q_DECLARE_METATYPE(Notice)

// What the setup application and the helper's menu make of the login item and the status file once the grace
// period is over, from one table of both: the recovery the window offers (the login item decides first; then
// only a fresh status needs nothing), the menu's title and symbol, and what becomes of the attention notice
// when none is out and when one is (one per change into needing attention, withdrawn once ready, nothing at
// every heartbeat, retry or stop). The model's test covers the grace period and the other login items.
class TestHelperPolicies : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void policies_data()
    {
        QTest::addColumn<std::optional<HelperStatus>>("helperStatus");
        QTest::addColumn<LoginItemState>("loginItem");
        QTest::addColumn<bool>("credentialInvalid");
        QTest::addColumn<HelperRecoveryAction>("action");
        QTest::addColumn<MenuStatusPresentation>("presentation");
        QTest::addColumn<Notice>("noticeIfNoneOut");
        QTest::addColumn<Notice>("noticeIfOut");
        using L = LoginItemState;
        using S = HelperStatus::State;
        using A = HelperRecoveryAction;
        using N = Notice;
        const auto ready = MenuStatusPresentation::ready();
        const auto starting = MenuStatusPresentation::starting();
        const auto attention = MenuStatusPresentation::attention();
        const auto fresh = status(S::connected, 10'000);
        QTest::newRow("not found, fresh status")
            << fresh << L::notFound << false << A::reinstall << attention << N::none << N::withdraw;
        QTest::newRow("starting, fresh heartbeat")
            << status(S::starting, 0) << L::enabled << false << A::restart << starting << N::none << N::none;
        QTest::newRow("connected, fresh") << fresh << L::enabled << false << A::none << ready << N::none << N::withdraw;
        QTest::newRow("connected, 45 s and 1 ms")
            << status(S::connected, 45'001) << L::enabled << false << A::restart << starting << N::none << N::none;
        QTest::newRow("credential rejected, fresh status")
            << fresh << L::enabled << true << A::none << attention << N::show << N::none;
        QTest::newRow("stopped") << status(S::stopped, 0) << L::enabled << false << A::restart << attention << N::none
                                 << N::none;
        QTest::newRow("needs attention") << status(S::needsAttention, 0) << L::enabled << false << A::restart
                                         << attention << N::show << N::none;
    }

    void policies()
    {
        QFETCH(std::optional<HelperStatus>, helperStatus);
        QFETCH(LoginItemState, loginItem);
        QFETCH(bool, credentialInvalid);
        QFETCH(HelperRecoveryAction, action);
        QFETCH(MenuStatusPresentation, presentation);
        QFETCH(Notice, noticeIfNoneOut);
        QFETCH(Notice, noticeIfOut);
        QCOMPARE(HelperRecoveryPolicy::action(loginItem, helperStatus, true, now), action);
        QCOMPARE(MenuStatusPresentation::make(helperStatus, loginItem, credentialInvalid, now), presentation);
        AttentionNotice noneOut{false};
        AttentionNotice out{true};
        QCOMPARE(noneOut.update(helperStatus, credentialInvalid, now), noticeIfNoneOut);
        QCOMPARE(out.update(helperStatus, credentialInvalid, now), noticeIfOut);
        QCOMPARE(noneOut.shown, noticeIfNoneOut == Notice::show);
        QCOMPARE(out.shown, noticeIfOut != Notice::withdraw);
    }
};

QTEST_GUILESS_MAIN(TestHelperPolicies)
#include "tst_helperpolicies.moc"
