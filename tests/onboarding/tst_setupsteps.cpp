#include "ScriptedLoginItem.h"

#include "loginitem/HelperRegistrationService.h"
#include "onboarding/OnboardingStateMachine.h"

#include <QTest>

#include <functional>

using Machine = OnboardingStateMachine;
using Event = std::function<Result<void>(Machine &)>;

Q_DECLARE_METATYPE(Event)
Q_DECLARE_METATYPE(OnboardingStep)
Q_DECLARE_METATYPE(std::optional<Error>)

// The setup window's steps and registering the helper at login.
class TestSetupSteps : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // Each event: where it leads, or the error, with its text, that keeps the step where it was.
    void transitions_data()
    {
        QTest::addColumn<OnboardingStep>("from");
        QTest::addColumn<Event>("event");
        QTest::addColumn<OnboardingStep>("to");
        QTest::addColumn<std::optional<Error>>("error");
        const Event paired = [](Machine &m) { return m.paired(); };
        const Event provider = [](Machine &m) {
            return m.providersVerified({QStringLiteral("/usr/bin/codex"), std::nullopt});
        };
        const Event noProvider = [](Machine &m) { return m.providersVerified({}); };
        const Event folder = [](Machine &m) { return m.foldersSelected({QStringLiteral("/home/u/work")}); };
        const Event noFolder = [](Machine &m) { return m.foldersSelected({}); };
        const std::optional<Error> ok;
        const Error invalid{QStringLiteral("OnboardingError"), 0,
                            QStringLiteral("That setup step is not available yet.")};
        const Error providerRequired{QStringLiteral("OnboardingError"), 1,
                                     QStringLiteral("Verify Codex or Claude Code to continue.")};
        const Error folderRequired{QStringLiteral("OnboardingError"), 2,
                                   QStringLiteral("Choose at least one permitted folder.")};
        using S = OnboardingStep;
        auto row = [](S from, const char *event, const Event &call, S to, std::optional<Error> error) {
            QTest::addRow("%s from %s", event, qPrintable(rawValue(from))) << from << call << to << error;
        };
        row(S::connect, "paired", paired, S::providers, ok);
        row(S::needsAttention, "paired", paired, S::providers, ok);
        row(S::providers, "a provider", provider, S::folders, ok);
        row(S::providers, "no provider", noProvider, S::providers, providerRequired);
        row(S::folders, "a folder", folder, S::connected, ok);
        row(S::folders, "no folder", noFolder, S::folders, folderRequired);
        // One row per step guard; the step is checked before the argument.
        row(S::connected, "paired", paired, S::connected, invalid);
        row(S::needsAttention, "no provider", noProvider, S::needsAttention, invalid);
        row(S::connected, "no folder", noFolder, S::connected, invalid);
    }

    void transitions()
    {
        QFETCH(OnboardingStep, from);
        QFETCH(Event, event);
        QFETCH(OnboardingStep, to);
        QFETCH(std::optional<Error>, error);
        Machine machine{from};

        const Result<void> result = event(machine);

        QCOMPARE(machine.step, to);
        QCOMPARE(result, error ? Result<void>(failure(*error)) : Result<void>());
    }
    // Restarting the login item unregisters it, then registers it again; a failed step ends it with its error.
    void restartLoginItem_data()
    {
        QTest::addColumn<QString>("failing"); // the call that is refused; empty: none
        QTest::addColumn<QStringList>("calls");
        const QStringList both{QStringLiteral("unregister"), QStringLiteral("register")};
        QTest::newRow("both done") << QString() << both;
        QTest::newRow("unregistering fails") << both.first() << both.mid(0, 1);
        QTest::newRow("registering fails") << both.last() << both;
    }
    void restartLoginItem()
    {
        QFETCH(QString, failing);
        QFETCH(QStringList, calls);
        const auto item = std::make_shared<ScriptedLoginItem>();
        item->currentState = LoginItemState::enabled;
        const Error refused{QStringLiteral("LoginItem"), 1, failing};
        if (!failing.isEmpty())
            (failing == QLatin1String("register") ? item->registerFailure : item->unregisterFailure) = refused;

        const Result<void> result = HelperRegistrationService(item).restart();

        QCOMPARE(item->calls, calls);
        QCOMPARE(result, failing.isEmpty() ? Result<void>() : Result<void>(failure(refused)));
    }
};

QTEST_GUILESS_MAIN(TestSetupSteps)
#include "tst_setupsteps.moc"
