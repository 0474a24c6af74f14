#include "loginitem/HelperRegistrationService.h"
#include "onboarding/OnboardingStateMachine.h"
#include "onboarding/ReadyStatus.h"

#include <QTest>

#include <functional>

using namespace Qt::StringLiterals;

namespace {

// Records the calls in order and fails those named in `failing`, each with an error naming the call.
class RecordingManager : public LoginItemManaging
{
public:
    LoginItemState state() const override { return LoginItemState::enabled; }
    Result<void> registerItem() override { return record(u"register"_s); }
    Result<void> unregisterItem() override { return record(u"unregister"_s); }
    Result<void> record(const QString &call)
    {
        calls.append(call);
        return failing.contains(call) ? Result<void>(failure(Error{u"POSIX"_s, 13, call})) : Result<void>();
    }

    QStringList failing;
    QStringList calls;
};

} // namespace

using Machine = OnboardingStateMachine;
using Event = std::function<Result<void>(Machine &)>;

Q_DECLARE_METATYPE(Event)
Q_DECLARE_METATYPE(OnboardingStep)
Q_DECLARE_METATYPE(std::optional<Error>)
Q_DECLARE_METATYPE(std::optional<HelperStatus>)
Q_DECLARE_METATYPE(ReadyStatus)

// The setup window's steps, its ready line, and registering the helper at login.
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
        const Event provider = [](Machine &m) { return m.providersVerified({u"/usr/bin/codex"_s, std::nullopt}); };
        const Event noProvider = [](Machine &m) { return m.providersVerified({}); };
        const Event folder = [](Machine &m) { return m.foldersSelected({u"/home/u/work"_s}); };
        const Event noFolder = [](Machine &m) { return m.foldersSelected({}); };
        const Event attention = [](Machine &m) {
            m.needsAttention();
            return Result<void>();
        };
        const Event reset = [](Machine &m) {
            m.reset();
            return Result<void>();
        };
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
        row(S::providers, "no provider", noProvider, S::providers, providerRequired);
        row(S::folders, "a folder", folder, S::connected, ok);
        row(S::folders, "no folder", noFolder, S::folders, folderRequired);
        // One row per guard; the step is checked before the argument.
        row(S::connected, "paired", paired, S::connected, invalid);
        row(S::connect, "a provider", provider, S::connect, invalid);
        row(S::needsAttention, "no provider", noProvider, S::needsAttention, invalid);
        row(S::providers, "a folder", folder, S::providers, invalid);
        row(S::connected, "no folder", noFolder, S::connected, invalid);
        row(S::folders, "needsAttention", attention, S::needsAttention, ok);
        row(S::connected, "reset", reset, S::connect, ok);
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
    void loginItemOperations_data()
    {
        QTest::addColumn<QString>("operation");
        QTest::addColumn<QStringList>("failing");
        QTest::addColumn<QStringList>("calls");
        QTest::addColumn<QString>("failedCall"); // whose error comes back; empty for success
        const QStringList reg{u"register"_s};
        const QStringList unreg{u"unregister"_s};
        const QStringList both{u"unregister"_s, u"register"_s};
        QTest::newRow("enable") << u"enable"_s << QStringList() << reg << QString();
        QTest::newRow("enable fails") << u"enable"_s << reg << reg << u"register"_s;
        QTest::newRow("disable") << u"disable"_s << QStringList() << unreg << QString();
        QTest::newRow("disable fails") << u"disable"_s << unreg << unreg << u"unregister"_s;
        QTest::newRow("restart") << u"restart"_s << QStringList() << both << QString();
        QTest::newRow("restart stops after a failed unregistration")
            << u"restart"_s << both << unreg << u"unregister"_s;
        QTest::newRow("restart fails to register again") << u"restart"_s << reg << both << u"register"_s;
    }

    void loginItemOperations()
    {
        QFETCH(QString, operation);
        QFETCH(QStringList, failing);
        QFETCH(QStringList, calls);
        QFETCH(QString, failedCall);
        const auto manager = std::make_shared<RecordingManager>();
        manager->failing = failing;
        HelperRegistrationService service(manager);

        const Result<void> result = operation == u"enable"_s    ? service.enable()
                                    : operation == u"disable"_s ? service.disable()
                                                                : service.restart();

        QCOMPARE(manager->calls, calls);
        const Error denied{u"POSIX"_s, 13, failedCall};
        QCOMPARE(result, failedCall.isEmpty() ? Result<void>() : Result<void>(failure(denied)));
    }
    // The ready screen's line: the network first, then the helper's freshness; the step only tells a
    // helper on its way from one that could not start.
    void readyStatus_data()
    {
        QTest::addColumn<std::optional<bool>>("network");
        QTest::addColumn<std::optional<HelperStatus>>("status");
        QTest::addColumn<OnboardingStep>("step");
        QTest::addColumn<ReadyStatus>("shown");
        using S = HelperStatus::State;
        const auto aged = [](S state, qint64 seconds) {
            return std::optional(HelperStatus(state, now.addSecs(-seconds)));
        };
        const std::optional<bool> online(true);
        const auto connected = OnboardingStep::connected;
        const auto attention = OnboardingStep::needsAttention;
        QTest::newRow("no network report yet")
            << std::optional<bool>() << aged(S::connected, 0) << connected << ReadyStatus::checkingConnection;
        QTest::newRow("offline") << std::optional(false) << aged(S::connected, 0) << connected << ReadyStatus::offline;
        QTest::newRow("fresh") << online << aged(S::connected, 45) << attention << ReadyStatus::readyForCalls;
        QTest::newRow("stale") << online << aged(S::connected, 46) << connected << ReadyStatus::couldNotStart;
        QTest::newRow("starting") << online << aged(S::starting, 46) << connected << ReadyStatus::gettingReady;
        QTest::newRow("starting, needs attention")
            << online << aged(S::starting, 0) << attention << ReadyStatus::couldNotStart;
        QTest::newRow("no status") << online << std::optional<HelperStatus>() << connected
                                   << ReadyStatus::couldNotStart;
    }
    void readyStatus()
    {
        QFETCH(std::optional<bool>, network);
        QFETCH(std::optional<HelperStatus>, status);
        QFETCH(OnboardingStep, step);
        QFETCH(ReadyStatus, shown);
        QCOMPARE(ReadyStatusRule::decide(network, status, step, now), shown);
    }

private:
    static inline const QDateTime now = QDateTime(QDate(2026, 3, 1), QTime(12, 0), Qt::UTC);
};

QTEST_GUILESS_MAIN(TestSetupSteps)
#include "tst_setupsteps.moc"
