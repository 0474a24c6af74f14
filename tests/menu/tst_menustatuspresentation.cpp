#include "menu/MenuStatusPresentation.h"

#include <QTest>

using namespace Qt::StringLiterals;

namespace {

const QDateTime now(QDate(2026, 1, 31), QTime(9, 15), Qt::UTC);

std::optional<HelperStatus> status(HelperStatus::State state, std::optional<qint64> heartbeatAgeMs)
{
    std::optional<QDateTime> heartbeat;
    if (heartbeatAgeMs)
        heartbeat = now.addMSecs(-*heartbeatAgeMs);
    return HelperStatus(state, heartbeat);
}

} // namespace

Q_DECLARE_METATYPE(LoginItemState)
Q_DECLARE_METATYPE(std::optional<HelperStatus>)
Q_DECLARE_METATYPE(MenuStatusPresentation)

class TestMenuStatusPresentation : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void presentations()
    {
        QCOMPARE(MenuStatusPresentation::ready(),
                 (MenuStatusPresentation{u"Ready for tasks"_s, u"laptopcomputer"_s}));
        QCOMPARE(MenuStatusPresentation::starting(),
                 (MenuStatusPresentation{u"Starting runner…"_s, u"laptopcomputer"_s}));
        QCOMPARE(MenuStatusPresentation::starting().title.back(), QChar(0x2026));
        QCOMPARE(MenuStatusPresentation::attention(),
                 (MenuStatusPresentation{u"Needs attention"_s, u"exclamationmark.triangle.fill"_s}));
    }

    void make_data()
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
        QTest::newRow("credential rejected, no status") << absent << L::enabled << true << attention;
        QTest::newRow("switched off") << fresh << L::requiresApproval << false << attention;
        QTest::newRow("not registered") << fresh << L::notRegistered << false << attention;
        QTest::newRow("not found") << fresh << L::notFound << false << attention;
        QTest::newRow("not registered, no status") << absent << L::notRegistered << false << attention;
        QTest::newRow("no status") << absent << L::enabled << false << starting;
        QTest::newRow("stopped") << status(S::stopped, 0) << L::enabled << false << attention;
        QTest::newRow("needs attention") << status(S::needsAttention, 0) << L::enabled << false << attention;
        QTest::newRow("starting") << status(S::starting, 0) << L::enabled << false << starting;
        QTest::newRow("connected, fresh") << fresh << L::enabled << false << ready;
        QTest::newRow("connected, 45 s") << status(S::connected, 45'000) << L::enabled << false << ready;
        QTest::newRow("connected, 45.5 s") << status(S::connected, 45'500) << L::enabled << false << starting;
        QTest::newRow("connected, heartbeat in the future") << status(S::connected, -30'000) << L::enabled << false
                                                            << ready;
        QTest::newRow("connected, no heartbeat") << status(S::connected, std::nullopt) << L::enabled << false
                                                 << starting;
    }

    void make()
    {
        QFETCH(std::optional<HelperStatus>, helperStatus);
        QFETCH(LoginItemState, loginItem);
        QFETCH(bool, credentialInvalid);
        QFETCH(MenuStatusPresentation, presentation);

        QCOMPARE(MenuStatusPresentation::make(helperStatus, loginItem, credentialInvalid, now), presentation);
    }
};

QTEST_GUILESS_MAIN(TestMenuStatusPresentation)
#include "tst_menustatuspresentation.moc"
