#include "loginitem/HelperRegistrationService.h"

#include <QTest>

using namespace Qt::StringLiterals;

namespace {

// Records the calls in order and fails those it is told to fail.
class RecordingManager : public LoginItemManaging
{
public:
    LoginItemState state() const override
    {
        calls.append(u"state"_s);
        return currentState;
    }

    Result<void> registerItem() override { return record(u"register"_s, registerError); }
    Result<void> unregisterItem() override { return record(u"unregister"_s, unregisterError); }

    LoginItemState currentState = LoginItemState::notRegistered;
    std::optional<Error> registerError;
    std::optional<Error> unregisterError;
    mutable QStringList calls;

private:
    Result<void> record(const QString &call, const std::optional<Error> &error)
    {
        calls.append(call);
        if (error)
            return failure(*error);
        return {};
    }
};

const Error denied{u"POSIX"_s, 13, u"autostart: Permission denied"_s};
const Error noSpace{u"POSIX"_s, 28, u"autostart: No space left on device"_s};

} // namespace

Q_DECLARE_METATYPE(std::optional<Error>)
Q_DECLARE_METATYPE(std::optional<LoginItemState>)

class TestHelperRegistrationService : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void operations_data()
    {
        QTest::addColumn<QString>("operation");
        QTest::addColumn<std::optional<Error>>("unregisterError");
        QTest::addColumn<std::optional<Error>>("registerError");
        QTest::addColumn<QStringList>("calls");
        QTest::addColumn<std::optional<Error>>("error");

        const std::optional<Error> none;
        QTest::newRow("enable") << u"enable"_s << none << none << QStringList{u"register"_s} << none;
        QTest::newRow("enable fails") << u"enable"_s << none << std::optional(denied) << QStringList{u"register"_s}
                                      << std::optional(denied);
        QTest::newRow("disable") << u"disable"_s << none << none << QStringList{u"unregister"_s} << none;
        QTest::newRow("disable fails") << u"disable"_s << std::optional(denied) << none
                                       << QStringList{u"unregister"_s} << std::optional(denied);
        QTest::newRow("restart") << u"restart"_s << none << none << QStringList{u"unregister"_s, u"register"_s}
                                 << none;
        QTest::newRow("restart stops after a failed unregistration")
            << u"restart"_s << std::optional(denied) << std::optional(noSpace) << QStringList{u"unregister"_s}
            << std::optional(denied);
        QTest::newRow("restart fails to register again")
            << u"restart"_s << none << std::optional(noSpace) << QStringList{u"unregister"_s, u"register"_s}
            << std::optional(noSpace);
    }

    void operations()
    {
        QFETCH(QString, operation);
        QFETCH(std::optional<Error>, unregisterError);
        QFETCH(std::optional<Error>, registerError);
        QFETCH(QStringList, calls);
        QFETCH(std::optional<Error>, error);
        const auto manager = std::make_shared<RecordingManager>();
        manager->unregisterError = unregisterError;
        manager->registerError = registerError;
        HelperRegistrationService service(manager);

        const Result<void> result = operation == u"enable"_s ? service.enable()
            : operation == u"disable"_s                     ? service.disable()
                                                            : service.restart();

        QCOMPARE(manager->calls, calls);
        QCOMPARE(result.has_value(), !error);
        if (error)
            QCOMPARE(result.error(), *error);
    }

    void stateIsReadAtEveryCall()
    {
        const auto manager = std::make_shared<RecordingManager>();
        const HelperRegistrationService service(manager);

        manager->currentState = LoginItemState::requiresApproval;
        QCOMPARE(service.state(), LoginItemState::requiresApproval);
        manager->currentState = LoginItemState::enabled;
        QCOMPARE(service.state(), LoginItemState::enabled);
        QCOMPARE(manager->calls, (QStringList{u"state"_s, u"state"_s}));
    }

    void rawValues_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<std::optional<LoginItemState>>("state");

        QTest::newRow("enabled") << u"enabled"_s << std::optional(LoginItemState::enabled);
        QTest::newRow("requiresApproval") << u"requiresApproval"_s << std::optional(LoginItemState::requiresApproval);
        QTest::newRow("notRegistered") << u"notRegistered"_s << std::optional(LoginItemState::notRegistered);
        QTest::newRow("notFound") << u"notFound"_s << std::optional(LoginItemState::notFound);
        QTest::newRow("other case") << u"Enabled"_s << std::optional<LoginItemState>();
        QTest::newRow("empty") << QString() << std::optional<LoginItemState>();
    }

    void rawValues()
    {
        QFETCH(QString, text);
        QFETCH(std::optional<LoginItemState>, state);

        QCOMPARE(loginItemStateFromRawValue(text), state);
        if (state)
            QCOMPARE(rawValue(*state), text);
    }
};

QTEST_GUILESS_MAIN(TestHelperRegistrationService)
#include "tst_helperregistrationservice.moc"
