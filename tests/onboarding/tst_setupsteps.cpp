#include "onboarding/OnboardingStateMachine.h"

#include <QTest>

// The setup window's steps where the model's test cannot reach them.
class TestSetupSteps : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // A setup that needs attention can be paired again; a finished one cannot, and stays where it is.
    void pairing()
    {
        OnboardingStateMachine attention{OnboardingStep::needsAttention};
        OnboardingStateMachine connected{OnboardingStep::connected};
        QCOMPARE(attention.paired(), Result<void>());
        QCOMPARE(connected.paired(),
                 Result<void>(failure(Error{QStringLiteral("OnboardingError"), 0,
                                            QStringLiteral("That setup step is not available yet.")})));
        QCOMPARE(attention.step, OnboardingStep::providers);
        QCOMPARE(connected.step, OnboardingStep::connected);
    }
};

QTEST_GUILESS_MAIN(TestSetupSteps)
#include "tst_setupsteps.moc"
