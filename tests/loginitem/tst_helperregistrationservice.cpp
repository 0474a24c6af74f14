#include "loginitem/HelperRegistrationService.h"

#include <QTest>

using namespace Qt::StringLiterals;

namespace {

Error deniedError(const QString &call)
{
    return Error{u"POSIX"_s, 13, call + u": Permission denied"_s};
}

// Records the calls in order and fails those named in `failing`, each with its own error.
class RecordingManager : public LoginItemManaging
{
public:
    LoginItemState state() const override { return LoginItemState::enabled; }
    Result<void> registerItem() override { return record(u"register"_s); }
    Result<void> unregisterItem() override { return record(u"unregister"_s); }

    QStringList failing;
    QStringList calls;

private:
    Result<void> record(const QString &call)
    {
        calls.append(call);
        return failing.contains(call) ? Result<void>(failure(deniedError(call))) : Result<void>();
    }
};

} // namespace

class TestHelperRegistrationService : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void operations_data()
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

    void operations()
    {
        QFETCH(QString, operation);
        QFETCH(QStringList, failing);
        QFETCH(QStringList, calls);
        QFETCH(QString, failedCall);
        const auto manager = std::make_shared<RecordingManager>();
        manager->failing = failing;
        HelperRegistrationService service(manager);

        const Result<void> result = operation == u"enable"_s ? service.enable()
            : operation == u"disable"_s                     ? service.disable()
                                                            : service.restart();

        QCOMPARE(manager->calls, calls);
        QCOMPARE(result, failedCall.isEmpty() ? Result<void>() : Result<void>(failure(deniedError(failedCall))));
    }
};

QTEST_GUILESS_MAIN(TestHelperRegistrationService)
#include "tst_helperregistrationservice.moc"
