#include "supervision/RunnerSupervisionPolicy.h"

#include <QTest>

class RunnerSupervisionPolicyTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void relaunchesUnlessQuitting_data();
    void relaunchesUnlessQuitting();
    void delayIsFixed();
};

void RunnerSupervisionPolicyTest::relaunchesUnlessQuitting_data()
{
    QTest::addColumn<RunnerExitReason>("reason");
    QTest::addColumn<bool>("relaunch");

    QTest::newRow("crash") << RunnerExitReason::crash << true;
    QTest::newRow("configuration changed") << RunnerExitReason::configurationChanged << true;
    QTest::newRow("quit") << RunnerExitReason::quit << false;
}

void RunnerSupervisionPolicyTest::relaunchesUnlessQuitting()
{
    QFETCH(RunnerExitReason, reason);
    QFETCH(bool, relaunch);

    QCOMPARE(RunnerSupervisionPolicy::shouldRelaunch(reason), relaunch);
}

// One constant: no backoff, no cap on attempts.
void RunnerSupervisionPolicyTest::delayIsFixed()
{
    QCOMPARE(RunnerSupervisionPolicy::relaunchDelay, 3.0);
}

QTEST_GUILESS_MAIN(RunnerSupervisionPolicyTest)
#include "tst_runnersupervisionpolicy.moc"
