#include "PairingLedger.h"
#include "SecretTokens.h"

#include <QTest>

using namespace Qt::StringLiterals;

namespace
{
const QString verifier = u"dBjftJeZ4CVP-mB92K27uhbUJU1p1r_wW1gFWFOEjXk"_s;
const QDateTime start = QDateTime(QDate(2026, 3, 2), QTime(9, 0), Qt::UTC);
constexpr std::chrono::seconds codeLifetime{300};

ConnectionRequest request()
{
    return ConnectionRequest{u"Mac"_s, u"macos"_s, u"arm64"_s, u"0.3.0"_s, SecretTokens::challengeFor(verifier),
                             u"state"_s, u"10"_s, std::nullopt};
}
}

// The ledger's time limits, driven by the test's own clock.
class tst_PairingLedger : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void codeLivesUnderFiveMinutes_data();
    void codeLivesUnderFiveMinutes();
    void approvalWaitsHalfAnHour_data();
    void approvalWaitsHalfAnHour();
};

void tst_PairingLedger::codeLivesUnderFiveMinutes_data()
{
    QTest::addColumn<qint64>("ageMs");
    QTest::addColumn<QString>("refusal");
    QTest::newRow("fresh") << qint64(0) << QString();
    QTest::newRow("just under five minutes") << qint64(299'999) << QString();
    QTest::newRow("five minutes") << qint64(300'000) << u"The connection code has expired. Connect this Mac again."_s;
    QTest::newRow("an hour later") << qint64(3'600'000) << u"The connection code has expired. Connect this Mac again."_s;
    QTest::newRow("forgotten after a day") << qint64(86'400'000) << u"The connection code is not valid."_s;
}

void tst_PairingLedger::codeLivesUnderFiveMinutes()
{
    QFETCH(qint64, ageMs);
    QFETCH(QString, refusal);
    PairingLedger ledger(codeLifetime);
    const auto approval = ledger.approve(ledger.open(request(), start), start);
    QVERIFY(approval);
    QCOMPARE(approval->state, u"state"_s);

    const auto redeemed = ledger.redeem(approval->code, verifier, start.addMSecs(ageMs));
    if (refusal.isEmpty()) {
        QCOMPARE(redeemed, request());
    } else {
        QVERIFY(!redeemed);
        QCOMPARE(redeemed.error(), (Refusal{400, refusal}));
    }
}

void tst_PairingLedger::approvalWaitsHalfAnHour_data()
{
    QTest::addColumn<qint64>("waitedMs");
    QTest::addColumn<bool>("approved");
    QTest::newRow("at once") << qint64(0) << true;
    QTest::newRow("just under half an hour") << qint64(1'799'999) << true;
    QTest::newRow("half an hour") << qint64(1'800'000) << false;
}

void tst_PairingLedger::approvalWaitsHalfAnHour()
{
    QFETCH(qint64, waitedMs);
    QFETCH(bool, approved);
    PairingLedger ledger(codeLifetime);
    const QString connectionId = ledger.open(request(), start);
    const auto approval = ledger.approve(connectionId, start.addMSecs(waitedMs));
    QCOMPARE(bool(approval), approved);
    if (!approved)
        QCOMPARE(approval.error().status, 404);
}

QTEST_GUILESS_MAIN(tst_PairingLedger)
#include "tst_pairingledger.moc"
