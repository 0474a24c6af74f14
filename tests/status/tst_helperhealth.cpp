#include "status/HelperHealth.h"

#include <QTest>

using namespace std::chrono_literals;
using State = HelperStatus::State;
using Age = std::optional<std::chrono::milliseconds>;

Q_DECLARE_METATYPE(std::optional<HelperStatus>)

// The one freshness rule every reader of a heartbeat uses, at its edges.
class TestHelperHealth : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void judgesTheLastStatus_data()
    {
        QTest::addColumn<std::optional<HelperStatus>>("status");
        QTest::addColumn<bool>("fresh");
        QTest::addColumn<bool>("healthy");
        const auto at = [](State state, Age age) {
            return std::optional(HelperStatus(state, age ? std::optional(now.addMSecs(-age->count())) : std::nullopt));
        };
        QTest::newRow("connected, 45 s") << at(State::connected, 45s) << true << true;
        QTest::newRow("connected, 45 s and 1 ms") << at(State::connected, 45001ms) << false << false;
        QTest::newRow("connected, 46 s") << at(State::connected, 46s) << false << false;
        QTest::newRow("connected, no heartbeat") << at(State::connected, std::nullopt) << false << false;
        QTest::newRow("connected, heartbeat in the future") << at(State::connected, -10min) << true << true;
        QTest::newRow("starting, 45 s") << at(State::starting, 45s) << false << true;
        QTest::newRow("starting, 46 s") << at(State::starting, 46s) << false << false;
        QTest::newRow("stopped, just now") << at(State::stopped, 0s) << false << false;
        QTest::newRow("needs attention, just now") << at(State::needsAttention, 0s) << false << false;
        QTest::newRow("no status") << std::optional<HelperStatus>() << false << false;
    }
    void judgesTheLastStatus()
    {
        QFETCH(std::optional<HelperStatus>, status);
        QFETCH(bool, fresh);
        QFETCH(bool, healthy);
        QCOMPARE(HelperHealth::isFresh(status, now), fresh);
        QCOMPARE(status && HelperHealth::isHealthy(*status, now), healthy);
    }

private:
    static inline const QDateTime now = QDateTime(QDate(2026, 3, 1), QTime(12, 0), Qt::UTC);
};

QTEST_APPLESS_MAIN(TestHelperHealth)
#include "tst_helperhealth.moc"
