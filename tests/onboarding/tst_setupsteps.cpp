#include "ScriptedLoginItem.h"

#include "loginitem/HelperRegistrationService.h"
#include "onboarding/OnboardingStateMachine.h"

#include <QTest>

// The setup window's steps and registering the helper at login, where the model's test cannot reach them.
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

    // Restarting the login item unregisters it, then registers it again (the model's test sees both done); a
    // refused step ends it with its error.
    void restartStopsAtARefusal_data()
    {
        QTest::addColumn<bool>("unregistering"); // or registering is refused
        QTest::newRow("unregistering refused") << true;
        QTest::newRow("registering refused") << false;
    }
    void restartStopsAtARefusal()
    {
        QFETCH(bool, unregistering);
        const auto item = std::make_shared<ScriptedLoginItem>();
        item->currentState = LoginItemState::enabled;
        const Error refused{QStringLiteral("LoginItem"), 1, QStringLiteral("Refused.")};
        (unregistering ? item->unregisterFailure : item->registerFailure) = refused;

        QCOMPARE(HelperRegistrationService(item).restart(), Result<void>(failure(refused)));

        const QStringList calls{QStringLiteral("unregister"), QStringLiteral("register")};
        QCOMPARE(item->calls, unregistering ? calls.mid(0, 1) : calls);
    }
};

QTEST_GUILESS_MAIN(TestSetupSteps)
#include "tst_setupsteps.moc"
