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

// What the helper and its menu make of the login item and the status file.
class TestHelperPolicies : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // The login item decides first; after the grace period only a fresh status needs nothing.
    void recovery_data()
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
        QTest::newRow("not found, fresh status") << L::notFound << true << fresh << A::reinstall;
        QTest::newRow("switched off, fresh status")
            << L::requiresApproval << true << fresh << A::enableInSystemSettings;
        QTest::newRow("grace period, no status") << L::enabled << false << absent << A::none;
        QTest::newRow("no status") << L::enabled << true << absent << A::restart;
        QTest::newRow("starting, fresh heartbeat") << L::enabled << true << status(S::starting, 0) << A::restart;
        QTest::newRow("connected, fresh") << L::enabled << true << fresh << A::none;
        QTest::newRow("connected, stale") << L::enabled << true << status(S::connected, 46'000) << A::restart;
    }

    void recovery()
    {
        QFETCH(LoginItemState, loginItem);
        QFETCH(bool, gracePeriodElapsed);
        QFETCH(std::optional<HelperStatus>, helperStatus);
        QFETCH(HelperRecoveryAction, action);
        QCOMPARE(HelperRecoveryPolicy::action(loginItem, helperStatus, gracePeriodElapsed, now), action);
    }

    // The menu's title and symbol, and what becomes of the attention notice when none is out and when one
    // is: one per change into needing attention, withdrawn once ready, nothing at every heartbeat, retry or
    // stop. The login item weighs on the title only.
    void menu_data()
    {
        QTest::addColumn<std::optional<HelperStatus>>("helperStatus");
        QTest::addColumn<LoginItemState>("loginItem");
        QTest::addColumn<bool>("credentialInvalid");
        QTest::addColumn<MenuStatusPresentation>("presentation");
        QTest::addColumn<Notice>("noticeIfNoneOut");
        QTest::addColumn<Notice>("noticeIfOut");
        using L = LoginItemState;
        using S = HelperStatus::State;
        using N = Notice;
        const auto ready = MenuStatusPresentation::ready();
        const auto starting = MenuStatusPresentation::starting();
        const auto attention = MenuStatusPresentation::attention();
        const auto fresh = status(S::connected, 5'000);
        const std::optional<HelperStatus> absent;
        QTest::newRow("credential rejected, fresh status")
            << fresh << L::enabled << true << attention << N::show << N::none;
        QTest::newRow("switched off") << fresh << L::requiresApproval << false << attention << N::none << N::withdraw;
        QTest::newRow("not registered, no status")
            << absent << L::notRegistered << false << attention << N::none << N::none;
        QTest::newRow("no status") << absent << L::enabled << false << starting << N::none << N::none;
        QTest::newRow("stopped") << status(S::stopped, 0) << L::enabled << false << attention << N::none << N::none;
        QTest::newRow("needs attention") << status(S::needsAttention, 0) << L::enabled << false << attention << N::show
                                         << N::none;
        QTest::newRow("starting") << status(S::starting, 0) << L::enabled << false << starting << N::none << N::none;
        QTest::newRow("connected, fresh") << fresh << L::enabled << false << ready << N::none << N::withdraw;
        QTest::newRow("connected, 46 s") << status(S::connected, 46'000) << L::enabled << false << starting << N::none
                                         << N::none;
    }

    void menu()
    {
        QFETCH(std::optional<HelperStatus>, helperStatus);
        QFETCH(LoginItemState, loginItem);
        QFETCH(bool, credentialInvalid);
        QFETCH(MenuStatusPresentation, presentation);
        QFETCH(Notice, noticeIfNoneOut);
        QFETCH(Notice, noticeIfOut);
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
