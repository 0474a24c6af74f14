#include "onboarding/OnboardingStateMachine.h"

#include <QTest>

#include <functional>

using namespace Qt::StringLiterals;

using Machine = OnboardingStateMachine;
using Event = std::function<Result<void>(Machine &)>;

Q_DECLARE_METATYPE(Event)
Q_DECLARE_METATYPE(OnboardingStep)
Q_DECLARE_METATYPE(std::optional<Error>)

class TestOnboardingStateMachine : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // Every event from every step: where it leads, or the error, with its text, that keeps the step where it was.
    void transitions_data()
    {
        QTest::addColumn<OnboardingStep>("from");
        QTest::addColumn<Event>("event");
        QTest::addColumn<OnboardingStep>("to");
        QTest::addColumn<std::optional<Error>>("error");
        const Event paired = [](Machine &m) { return m.paired(); };
        const Event provider = [](Machine &m) { return m.providersVerified({u"/usr/bin/codex"_s, std::nullopt}); };
        const Event emptyPath = [](Machine &m) { return m.providersVerified({std::nullopt, QString()}); };
        const Event noProvider = [](Machine &m) { return m.providersVerified({}); };
        const Event folder = [](Machine &m) { return m.foldersSelected({u"/home/u/work"_s}); };
        const Event repeatedRelative = [](Machine &m) { return m.foldersSelected({u"work"_s, u"work"_s}); };
        const Event noFolder = [](Machine &m) { return m.foldersSelected({}); };
        const Event attention = [](Machine &m) { m.needsAttention(); return Result<void>(); };
        const Event reset = [](Machine &m) { m.reset(); return Result<void>(); };
        const std::optional<Error> ok;
        const Error invalid{u"OnboardingError"_s, 0, u"That setup step is not available yet."_s};
        const Error providerRequired{u"OnboardingError"_s, 1, u"Verify Codex or Claude Code to continue."_s};
        const Error folderRequired{u"OnboardingError"_s, 2, u"Choose at least one permitted folder."_s};
        using S = OnboardingStep;
        auto row = [](S from, const char *event, const Event &call, S to, std::optional<Error> error) {
            QTest::addRow("%s from %s", event, qPrintable(rawValue(from))) << from << call << to << error;
        };
        row(S::connect, "paired", paired, S::providers, ok);
        row(S::needsAttention, "paired", paired, S::providers, ok);
        row(S::providers, "a provider", provider, S::folders, ok);
        row(S::providers, "an empty provider path", emptyPath, S::folders, ok);
        row(S::providers, "no provider", noProvider, S::providers, providerRequired);
        row(S::folders, "a folder", folder, S::connected, ok);
        row(S::folders, "a repeated relative folder", repeatedRelative, S::connected, ok);
        row(S::folders, "no folder", noFolder, S::folders, folderRequired);
        // The step is checked before the argument.
        for (const S from : {S::providers, S::folders, S::connected})
            row(from, "paired", paired, from, invalid);
        for (const S from : {S::connect, S::folders, S::connected, S::needsAttention}) {
            row(from, "a provider", provider, from, invalid);
            row(from, "no provider", noProvider, from, invalid);
        }
        for (const S from : {S::connect, S::providers, S::connected, S::needsAttention}) {
            row(from, "a folder", folder, from, invalid);
            row(from, "no folder", noFolder, from, invalid);
        }
        for (const S from : {S::connect, S::providers, S::folders, S::connected, S::needsAttention}) {
            row(from, "needsAttention", attention, S::needsAttention, ok);
            row(from, "reset", reset, S::connect, ok);
        }
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
};

QTEST_GUILESS_MAIN(TestOnboardingStateMachine)
#include "tst_onboardingstatemachine.moc"
