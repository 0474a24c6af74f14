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
Q_DECLARE_METATYPE(AttentionNotice::Action)

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

    void statusPresentation_data()
    {
        QTest::addColumn<std::optional<HelperStatus>>("helperStatus");
        QTest::addColumn<LoginItemState>("loginItem");
        QTest::addColumn<bool>("credentialInvalid");
        QTest::addColumn<MenuStatusPresentation>("presentation");
        using L = LoginItemState;
        using S = HelperStatus::State;
        const auto ready = MenuStatusPresentation::ready();
        const auto starting = MenuStatusPresentation::starting();
        const auto attention = MenuStatusPresentation::attention();
        const auto fresh = status(S::connected, 5'000);
        const std::optional<HelperStatus> absent;
        QTest::newRow("credential rejected, fresh status") << fresh << L::enabled << true << attention;
        QTest::newRow("switched off") << fresh << L::requiresApproval << false << attention;
        QTest::newRow("not registered, no status") << absent << L::notRegistered << false << attention;
        QTest::newRow("no status") << absent << L::enabled << false << starting;
        QTest::newRow("stopped") << status(S::stopped, 0) << L::enabled << false << attention;
        QTest::newRow("needs attention") << status(S::needsAttention, 0) << L::enabled << false << attention;
        QTest::newRow("starting") << status(S::starting, 0) << L::enabled << false << starting;
        QTest::newRow("connected, fresh") << fresh << L::enabled << false << ready;
        QTest::newRow("connected, 46 s") << status(S::connected, 46'000) << L::enabled << false << starting;
    }

    void statusPresentation()
    {
        QFETCH(std::optional<HelperStatus>, helperStatus);
        QFETCH(LoginItemState, loginItem);
        QFETCH(bool, credentialInvalid);
        QFETCH(MenuStatusPresentation, presentation);
        QCOMPARE(MenuStatusPresentation::make(helperStatus, loginItem, credentialInvalid, now), presentation);
    }

    // One notice per change into needing attention, withdrawn once ready; nothing at every heartbeat.
    void attentionNotice_data()
    {
        QTest::addColumn<bool>("shownBefore");
        QTest::addColumn<std::optional<HelperStatus>>("helperStatus");
        QTest::addColumn<bool>("credentialInvalid");
        QTest::addColumn<AttentionNotice::Action>("action");
        using S = HelperStatus::State;
        using A = AttentionNotice::Action;
        const auto fresh = status(S::connected, 5'000);
        const auto attention = status(S::needsAttention, 0);
        QTest::newRow("needs attention") << false << attention << false << A::show;
        QTest::newRow("needs attention again, every retry") << true << attention << false << A::none;
        QTest::newRow("credential rejected while connected") << false << fresh << true << A::show;
        QTest::newRow("ready again") << true << fresh << false << A::withdraw;
        QTest::newRow("ready, every heartbeat") << false << fresh << false << A::none;
        QTest::newRow("starting between crashes") << true << status(S::starting, 0) << false << A::none;
        QTest::newRow("stale heartbeat") << true << status(S::connected, 60'000) << false << A::none;
        QTest::newRow("no status yet") << false << std::optional<HelperStatus>() << false << A::none;
    }

    void attentionNotice()
    {
        QFETCH(bool, shownBefore);
        QFETCH(std::optional<HelperStatus>, helperStatus);
        QFETCH(bool, credentialInvalid);
        QFETCH(AttentionNotice::Action, action);
        AttentionNotice notice{shownBefore};
        QCOMPARE(notice.update(helperStatus, credentialInvalid, now), action);
        QCOMPARE(notice.shown,
                 action == AttentionNotice::Action::none ? shownBefore : action == AttentionNotice::Action::show);
    }
};

QTEST_GUILESS_MAIN(TestHelperPolicies)
#include "tst_helperpolicies.moc"
