#include "supervision/RunnerSupervisionPolicy.h"

#include <QTest>

class RunnerSupervisionPolicyTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // Relaunched after a fixed 3 s, with no backoff and no cap, unless the user quit.
    void relaunch_data()
    {
        QTest::addColumn<RunnerExitReason>("reason");
        QTest::addColumn<bool>("relaunch");
        QTest::newRow("crash") << RunnerExitReason::crash << true;
        QTest::newRow("configuration changed") << RunnerExitReason::configurationChanged << true;
        QTest::newRow("quit") << RunnerExitReason::quit << false;
    }

    void relaunch()
    {
        QFETCH(RunnerExitReason, reason);
        QFETCH(bool, relaunch);
        QCOMPARE(RunnerSupervisionPolicy::shouldRelaunch(reason), relaunch);
        QCOMPARE(RunnerSupervisionPolicy::relaunchDelay, 3.0);
    }
};

QTEST_GUILESS_MAIN(RunnerSupervisionPolicyTest)
#include "tst_runnersupervisionpolicy.moc"
