#include "PairedSetup.h"
#include "RunnerBundle.h"
#include "TestKeyring.h"

#include "HelperAppDelegate.h"
#include "config/AppPaths.h"
#include "status/StatusStore.h"

#include <QDir>
#include <QSignalSpy>
#include <QTest>

#include <memory>

using namespace std::chrono_literals;
using Reply = HelperAppDelegate::TerminateReply;

namespace {

const RunnerSupervisorTiming timing{50ms, 300ms, 150ms, 300ms};

std::optional<HelperStatus> savedStatus()
{
    const Result<std::optional<HelperStatus>> status = StatusStore(AppPaths::status()).load();
    return status ? *status : std::nullopt;
}

} // namespace

class tst_HelperAppDelegate : public QObject
{
    Q_OBJECT

private:
    // Launches the delegate and waits until its runner is up and the menu says so.
    void launch(HelperAppDelegate &delegate)
    {
        delegate.applicationDidFinishLaunching();
        QTRY_VERIFY_WITH_TIMEOUT(runnerLaunches().size() == 1, 10000);
        QTRY_COMPARE_WITH_TIMEOUT(delegate.menuController()->items().first().text, QStringLiteral("Ready for tasks"),
                                  10000);
    }

    std::unique_ptr<RunnerBundle> m_bundle;

private Q_SLOTS:
    void init()
    {
        QDir(AppPaths::applicationSupportDirectory()).removeRecursively();
        QVERIFY(TestKeyring::unlockDefault());
        QVERIFY(PairedSetup::write());
        m_bundle = std::make_unique<RunnerBundle>();
    }

    void cleanup()
    {
        m_bundle.reset();
    }

    void aRequestBeforeLaunchingEndsAtOnce()
    {
        HelperAppDelegate delegate(timing, MenuControllerOptions{});
        QCOMPARE(delegate.applicationShouldTerminate(), Reply::now);
    }

    void quitStopsTheRunnerOnceThenConfirms()
    {
        const auto delegate = std::make_unique<HelperAppDelegate>(timing, MenuControllerOptions{});
        launch(*delegate);
        if (QTest::currentTestFailed())
            return;
        const qint64 runner = runnerLaunches().first();
        QSignalSpy confirmed(delegate.get(), &HelperAppDelegate::terminationConfirmed);

        delegate->menuController()->quit();
        delegate->menuController()->quit();
        QVERIFY(confirmed.wait(10000));
        QVERIFY(!processExists(runner));
        QCOMPARE(savedStatus()->state(), HelperStatus::State::stopped);
        QTest::qWait(int(3 * timing.relaunchDelay.count()));
        QCOMPARE(confirmed.count(), 1);
        QCOMPARE(runnerLaunches().size(), 1);
        // Once stopped, any further request is answered at once.
        QCOMPARE(delegate->applicationShouldTerminate(), Reply::now);
    }

    void aTerminationRequestStopsTheRunnerFirst()
    {
        const auto delegate = std::make_unique<HelperAppDelegate>(timing, MenuControllerOptions{});
        launch(*delegate);
        if (QTest::currentTestFailed())
            return;
        const qint64 runner = runnerLaunches().first();
        QSignalSpy confirmed(delegate.get(), &HelperAppDelegate::terminationConfirmed);

        QCOMPARE(delegate->applicationShouldTerminate(), Reply::later);
        QVERIFY(processExists(runner));
        QVERIFY(confirmed.wait(10000));
        QVERIFY(!processExists(runner));
        QCOMPARE(savedStatus()->state(), HelperStatus::State::stopped);
    }

    void aRequestDuringAQuitWaitsForTheSameStop()
    {
        m_bundle->setRuntime(RunnerBundle::stubbornRunner());
        const auto delegate = std::make_unique<HelperAppDelegate>(timing, MenuControllerOptions{});
        launch(*delegate);
        if (QTest::currentTestFailed())
            return;
        const qint64 runner = runnerLaunches().first();
        QSignalSpy confirmed(delegate.get(), &HelperAppDelegate::terminationConfirmed);

        delegate->quit();
        QCOMPARE(delegate->applicationShouldTerminate(), Reply::later);
        QVERIFY(confirmed.wait(10000));
        QCOMPARE(confirmed.count(), 1);
        QVERIFY(!processExists(runner));
        QCOMPARE(runnerRecord(QStringLiteral("terms")).count("term"), 1);
    }
};

QTEST_MAIN(tst_HelperAppDelegate)
#include "tst_helperappdelegate.moc"
