#include "onboarding/OnboardingError.h"
#include "onboarding/OnboardingStateMachine.h"

#include <QTest>

#include <functional>

using namespace Qt::StringLiterals;

namespace {

using Event = std::function<Result<void>(OnboardingStateMachine &)>;

Event paired()
{
    return [](OnboardingStateMachine &machine) { return machine.paired(); };
}

Event providersVerified(const ProviderPaths &paths)
{
    return [paths](OnboardingStateMachine &machine) { return machine.providersVerified(paths); };
}

Event foldersSelected(const QStringList &folders)
{
    return [folders](OnboardingStateMachine &machine) { return machine.foldersSelected(folders); };
}

Event needsAttention()
{
    return [](OnboardingStateMachine &machine) {
        machine.needsAttention();
        return Result<void>();
    };
}

Event reset()
{
    return [](OnboardingStateMachine &machine) {
        machine.reset();
        return Result<void>();
    };
}

const QList<OnboardingStep> allSteps{OnboardingStep::connect, OnboardingStep::providers, OnboardingStep::folders,
                                     OnboardingStep::connected, OnboardingStep::needsAttention};

} // namespace

Q_DECLARE_METATYPE(Event)
Q_DECLARE_METATYPE(OnboardingStep)
Q_DECLARE_METATYPE(std::optional<OnboardingError>)
Q_DECLARE_METATYPE(std::optional<OnboardingStep>)

class TestOnboardingStateMachine : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // Every event from every step: where it leads, or the error that keeps the step where it was.
    void transitions_data()
    {
        QTest::addColumn<OnboardingStep>("from");
        QTest::addColumn<Event>("event");
        QTest::addColumn<OnboardingStep>("to");
        QTest::addColumn<std::optional<OnboardingError>>("error");

        const ProviderPaths codex{u"/usr/bin/codex"_s, std::nullopt};
        const ProviderPaths emptyButPresent{std::nullopt, QString()};
        const std::optional<OnboardingError> ok;
        const auto invalid = std::optional(OnboardingError::invalidTransition);
        const auto providerRequired = std::optional(OnboardingError::providerRequired);
        const auto folderRequired = std::optional(OnboardingError::folderRequired);

        using S = OnboardingStep;
        auto row = [](S from, const char *eventName, const Event &event, S to, std::optional<OnboardingError> error) {
            QTest::addRow("%s from %s", eventName, qPrintable(rawValue(from))) << from << event << to << error;
        };
        row(S::connect, "paired", paired(), S::providers, ok);
        row(S::needsAttention, "paired", paired(), S::providers, ok);
        row(S::providers, "providersVerified with a provider", providersVerified(codex), S::folders, ok);
        row(S::providers, "providersVerified with an empty path", providersVerified(emptyButPresent), S::folders, ok);
        row(S::providers, "providersVerified without a provider", providersVerified(ProviderPaths()), S::providers,
            providerRequired);
        row(S::folders, "foldersSelected with a folder", foldersSelected({u"/home/u/work"_s}), S::connected, ok);
        row(S::folders, "foldersSelected with a repeated relative folder",
            foldersSelected({u"work"_s, u"work"_s}), S::connected, ok);
        row(S::folders, "foldersSelected with none", foldersSelected({}), S::folders, folderRequired);
        // The step is checked before the argument.
        for (const S from : {S::providers, S::folders, S::connected})
            row(from, "paired", paired(), from, invalid);
        for (const S from : {S::connect, S::folders, S::connected, S::needsAttention}) {
            row(from, "providersVerified with a provider", providersVerified(codex), from, invalid);
            row(from, "providersVerified without a provider", providersVerified(ProviderPaths()), from, invalid);
        }
        for (const S from : {S::connect, S::providers, S::connected, S::needsAttention}) {
            row(from, "foldersSelected with a folder", foldersSelected({u"/home/u/work"_s}), from, invalid);
            row(from, "foldersSelected with none", foldersSelected({}), from, invalid);
        }
        for (const S from : allSteps) {
            row(from, "needsAttention", needsAttention(), S::needsAttention, ok);
            row(from, "reset", reset(), S::connect, ok);
        }
    }

    void transitions()
    {
        QFETCH(OnboardingStep, from);
        QFETCH(Event, event);
        QFETCH(OnboardingStep, to);
        QFETCH(std::optional<OnboardingError>, error);
        OnboardingStateMachine machine{from};

        const Result<void> result = event(machine);

        QCOMPARE(machine.step, to);
        if (error)
            QCOMPARE(result, Result<void>(failure(toError(*error))));
        else
            QVERIFY(result.has_value());
    }

    void walkThroughSetup()
    {
        OnboardingStateMachine machine;
        QCOMPARE(machine.step, OnboardingStep::connect);
        QVERIFY(machine.paired());
        QVERIFY(machine.providersVerified(ProviderPaths{std::nullopt, u"/usr/bin/claude"_s}));
        QVERIFY(machine.foldersSelected({u"/home/u/work"_s}));
        QCOMPARE(machine, (OnboardingStateMachine{OnboardingStep::connected}));
    }

    void errorTexts_data()
    {
        QTest::addColumn<OnboardingError>("error");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("text");

        QTest::newRow("invalidTransition") << OnboardingError::invalidTransition << 0
                                           << u"That setup step is not available yet."_s;
        QTest::newRow("providerRequired") << OnboardingError::providerRequired << 1
                                          << u"Verify Codex or Claude Code to continue."_s;
        QTest::newRow("folderRequired") << OnboardingError::folderRequired << 2
                                        << u"Choose at least one permitted folder."_s;
    }

    void errorTexts()
    {
        QFETCH(OnboardingError, error);
        QFETCH(int, code);
        QFETCH(QString, text);

        QCOMPARE(errorDescription(error), text);
        QCOMPARE(toError(error), (Error{u"OnboardingError"_s, code, text}));
    }

    void rawValues_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<std::optional<OnboardingStep>>("step");

        QTest::newRow("connect") << u"connect"_s << std::optional(OnboardingStep::connect);
        QTest::newRow("providers") << u"providers"_s << std::optional(OnboardingStep::providers);
        QTest::newRow("folders") << u"folders"_s << std::optional(OnboardingStep::folders);
        QTest::newRow("connected") << u"connected"_s << std::optional(OnboardingStep::connected);
        QTest::newRow("needsAttention") << u"needsAttention"_s << std::optional(OnboardingStep::needsAttention);
        QTest::newRow("capitalised") << u"NeedsAttention"_s << std::optional<OnboardingStep>();
        QTest::newRow("padded") << u"connect "_s << std::optional<OnboardingStep>();
        QTest::newRow("empty") << QString() << std::optional<OnboardingStep>();
    }

    void rawValues()
    {
        QFETCH(QString, text);
        QFETCH(std::optional<OnboardingStep>, step);

        QCOMPARE(onboardingStepFromRawValue(text), step);
        if (step)
            QCOMPARE(rawValue(*step), text);
    }
};

QTEST_GUILESS_MAIN(TestOnboardingStateMachine)
#include "tst_onboardingstatemachine.moc"
