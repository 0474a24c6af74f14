#include "loginitem/HelperRegistrationService.h"
#include "onboarding/OnboardingStateMachine.h"
#include "onboarding/ReadyStatus.h"

#include <QTest>

#include <functional>

namespace {

// Records the calls in order and fails those named in `failing`, each with an error naming the call.
class RecordingManager : public LoginItemManaging
{
public:
    LoginItemState state() const override { return LoginItemState::enabled; }
    Result<void> registerItem() override { return record(QStringLiteral("register")); }
    Result<void> unregisterItem() override { return record(QStringLiteral("unregister")); }
    Result<void> record(const QString &call)
    {
        calls.append(call);
        return failing.contains(call) ? Result<void>(failure(Error{QStringLiteral("POSIX"), 13, call}))
                                      : Result<void>();
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
        QTest::addColumn<QStringList>("failing");
        QTest::addColumn<QStringList>("calls");
        QTest::addColumn<QString>("failedCall"); // whose error comes back; empty for success
        const QStringList unregister{QStringLiteral("unregister")};
        const QStringList both{QStringLiteral("unregister"), QStringLiteral("register")};
        QTest::newRow("both done") << QStringList() << both << QString();
        QTest::newRow("unregistering fails") << both << unregister << QStringLiteral("unregister");
        QTest::newRow("registering fails")
            << QStringList{QStringLiteral("register")} << both << QStringLiteral("register");
    }

    void restartLoginItem()
    {
        QFETCH(QStringList, failing);
        QFETCH(QStringList, calls);
        QFETCH(QString, failedCall);
        const auto manager = std::make_shared<RecordingManager>();
        manager->failing = failing;

        const Result<void> result = HelperRegistrationService(manager).restart();

        QCOMPARE(manager->calls, calls);
        const Error denied{QStringLiteral("POSIX"), 13, failedCall};
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
