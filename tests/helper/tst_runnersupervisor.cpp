#include "PairedSetup.h"
#include "RunnerBundle.h"
#include "TestKeyring.h"

#include "RunnerSupervisor.h"
#include "config/AppPaths.h"
#include "config/FileConfigStore.h"
#include "credentials/SystemCredentialStore.h"
#include "status/StatusStore.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTest>

#include <memory>

using namespace std::chrono_literals;
using State = HelperStatus::State;

namespace {

const QString credential = PairedSetup::credential();

const QString disconnected = QStringLiteral("This Mac is disconnected. Open Tarnwick to reconnect.");
const QString setupIncomplete = QStringLiteral("Setup is incomplete. Open Tarnwick to finish.");
const QString runtimeIncomplete = QStringLiteral("The installed background runtime is incomplete. Reinstall Tarnwick.");
const QString couldNotStart = QStringLiteral("The runner could not start. It will retry shortly.");
const QString crashed = QStringLiteral("The runner stopped unexpectedly. Restarting shortly.");

// Fast enough for the suite, slow enough that a loaded machine keeps the order of events.
const RunnerSupervisorTiming timing{50ms, 300ms, 150ms, 300ms};
constexpr int patience = 10000;

void writeConfig()
{
    QVERIFY(FileConfigStore(AppPaths::config()).save(PairedSetup::config()));
}

void storeCredential()
{
    QVERIFY(SystemCredentialStore(std::nullopt).save(credential));
}

// Moves the configuration file's modification time without changing its content.
void touchConfig(int secondsAhead)
{
    QFile file(AppPaths::config());
    QVERIFY(file.open(QIODevice::ReadWrite));
    QVERIFY(file.setFileTime(QDateTime::currentDateTimeUtc().addSecs(secondsAhead), QFileDevice::FileModificationTime));
}

qsizetype openDescriptorCount()
{
    return QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::NoDotAndDotDot | QDir::AllEntries).size();
}

// Children of this process that have ended but were never reaped.
int zombieChildren()
{
    int zombies = 0;
    const QString self = QString::number(QCoreApplication::applicationPid());
    for (const QString &pid : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        // pid (comm) state ppid …; comm may hold blanks, so read after the last ')'.
        const QByteArray text = stat.readAll();
        const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
        if (fields.size() > 1 && fields[0] == "Z" && fields[1] == self.toLatin1())
            ++zombies;
    }
    return zombies;
}

} // namespace

class tst_RunnerSupervisor : public QObject
{
    Q_OBJECT

private:
    void makeSupervisor()
    {
        m_supervisor = std::make_unique<RunnerSupervisor>(
            [this](const HelperStatus &status) {
                QVERIFY(QThread::currentThread() == QCoreApplication::instance()->thread());
                m_statuses.append(status);
            },
            timing);
    }

    int countOf(State state, const std::optional<QString> &error = std::nullopt) const
    {
        return int(std::count_if(m_statuses.begin(), m_statuses.end(), [&](const HelperStatus &status) {
            return status.state() == state && status.error() == error;
        }));
    }

    // Stops the supervisor and waits for the completion, so no runner outlives a test.
    void stopAndWait()
    {
        bool done = false;
        m_supervisor->stop([&done] { done = true; });
        QTRY_VERIFY_WITH_TIMEOUT(done, patience);
    }

    std::unique_ptr<RunnerBundle> m_bundle;
    std::unique_ptr<RunnerSupervisor> m_supervisor;
    QList<HelperStatus> m_statuses;

private Q_SLOTS:
    void init()
    {
        QDir(AppPaths::applicationSupportDirectory()).removeRecursively();
        QDir().mkpath(AppPaths::applicationSupportDirectory());
        QVERIFY(TestKeyring::unlockDefault());
        QVERIFY(TestKeyring::deleteCredentialItems());
        m_bundle = std::make_unique<RunnerBundle>();
        m_statuses.clear();
        makeSupervisor();
    }

    void cleanup()
    {
        if (m_supervisor)
            stopAndWait();
        m_supervisor.reset();
        m_bundle.reset();
    }

    void nothingHappensBeforeStart()
    {
        storeCredential();
        writeConfig();
        QTest::qWait(int(4 * timing.relaunchDelay.count()));
        QVERIFY(m_statuses.isEmpty());
        QVERIFY(!QFile::exists(AppPaths::status()));
        QVERIFY(runnerLaunches().isEmpty());
        m_supervisor.reset();
    }

    void launchesWithTheRunnerContract()
    {
        storeCredential();
        writeConfig();
        m_supervisor->start();
        QTRY_VERIFY_WITH_TIMEOUT(countOf(State::connected) >= 2, patience);

        QCOMPARE(m_statuses.first(), HelperStatus(State::starting, m_statuses.first().lastHeartbeat()));
        QCOMPARE(m_statuses.at(1).state(), State::connected);
        QCOMPARE(runnerLaunches().size(), 1);
        QCOMPARE(runnerRecord(QStringLiteral("input")), credential.toUtf8() + '\n');
        QCOMPARE(runnerRecord(QStringLiteral("arguments")), QFile::encodeName(m_bundle->scriptPath()) + '\n');
        QCOMPARE(QString::fromLocal8Bit(runnerRecord(QStringLiteral("directory"))).trimmed(),
                 QDir(AppPaths::applicationSupportDirectory()).canonicalPath());

        QStringList environment;
        for (const QByteArray &entry : runnerRecord(QStringLiteral("environment")).split('\0')) {
            if (!entry.isEmpty())
                environment.append(QString::fromLocal8Bit(entry));
        }
        environment.sort();
        QCOMPARE(environment, QStringList({QStringLiteral("HOME=") + QDir::homePath(),
                                           QStringLiteral("NODE_ENV=production"),
                                           QStringLiteral("PATH=/usr/bin:/bin:/usr/sbin:/sbin"),
                                           QStringLiteral("TMPDIR=") + QDir::tempPath()}));

        const Result<std::optional<HelperStatus>> saved = StatusStore(AppPaths::status()).load();
        QVERIFY(saved && *saved);
        QCOMPARE((*saved)->state(), State::connected);

        stopAndWait();
        QCOMPARE(m_statuses.last(), HelperStatus(State::stopped, m_statuses.last().lastHeartbeat()));
        QVERIFY(!processExists(runnerLaunches().first()));
    }

    void publishesWhatKeepsTheRunnerDown_data()
    {
        QTest::addColumn<bool>("withCredential");
        QTest::addColumn<QByteArray>("config");
        QTest::addColumn<QString>("brokenBundleFile");
        QTest::addColumn<QString>("message");

        const QByteArray valid = PairedSetup::config().encoded();
        const QString runtime = QStringLiteral("Contents/Resources/runtime/node");
        const QString script = QStringLiteral("Contents/Resources/runner/runner.js");
        QTest::newRow("no credential") << false << valid << QString() << disconnected;
        QTest::newRow("no configuration") << true << QByteArray() << QString() << setupIncomplete;
        QTest::newRow("malformed configuration") << true << QByteArrayLiteral("{\"apiUrl\": ") << QString()
                                                 << couldNotStart;
        QTest::newRow("runtime missing") << true << valid << runtime << runtimeIncomplete;
        QTest::newRow("script missing") << true << valid << script << runtimeIncomplete;
    }

    void publishesWhatKeepsTheRunnerDown()
    {
        QFETCH(bool, withCredential);
        QFETCH(QByteArray, config);
        QFETCH(QString, brokenBundleFile);
        QFETCH(QString, message);

        if (withCredential)
            storeCredential();
        if (!config.isEmpty()) {
            QFile file(AppPaths::config());
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(config);
        }
        if (!brokenBundleFile.isEmpty())
            QVERIFY(QFile::remove(QDir(m_bundle->path()).filePath(brokenBundleFile)));

        m_supervisor->start();
        QTRY_VERIFY_WITH_TIMEOUT(countOf(State::needsAttention, message) >= 3, patience);

        // The same message again and again, a relaunch delay apart, and nothing else meanwhile.
        QCOMPARE(countOf(State::needsAttention, message), m_statuses.size() - countOf(State::starting));
        for (qsizetype i = 1; i < m_statuses.size(); ++i) {
            const qint64 gap = m_statuses[i - 1].lastHeartbeat()->msecsTo(*m_statuses[i].lastHeartbeat());
            if (m_statuses[i].state() == State::needsAttention)
                QVERIFY2(gap >= timing.relaunchDelay.count() - 2, qPrintable(QString::number(gap)));
        }
        const Result<std::optional<HelperStatus>> saved = StatusStore(AppPaths::status()).load();
        QVERIFY(saved && *saved);
        QCOMPARE((*saved)->error(), message);
        QVERIFY(runnerLaunches().isEmpty());
    }

    void aRuntimeThatIsNotExecutableIsIncomplete()
    {
        storeCredential();
        writeConfig();
        QVERIFY(QFile::setPermissions(m_bundle->runtimePath(), QFile::ReadOwner | QFile::WriteOwner));
        m_supervisor->start();
        QTRY_VERIFY_WITH_TIMEOUT(countOf(State::needsAttention, runtimeIncomplete) >= 1, patience);
    }

    void aLockedKeyringFailsTheAttemptWithoutAPrompt()
    {
        storeCredential();
        writeConfig();
        QVERIFY(TestKeyring::lockAll());
        m_supervisor->start();
        QTRY_VERIFY_WITH_TIMEOUT(countOf(State::needsAttention, couldNotStart) >= 2, patience);
        QCOMPARE(countOf(State::needsAttention, disconnected), 0);

        QVERIFY(TestKeyring::unlockDefault());
        QTRY_VERIFY_WITH_TIMEOUT(countOf(State::connected) >= 1, patience);
    }

    void launchesSoonAfterTheConfigurationAppears()
    {
        storeCredential();
        m_supervisor->start();
        QTRY_VERIFY_WITH_TIMEOUT(countOf(State::needsAttention, setupIncomplete) >= 1, patience);
        QElapsedTimer elapsed;
        elapsed.start();
        writeConfig();
        QTRY_VERIFY_WITH_TIMEOUT(runnerLaunches().size() == 1, patience);
        QVERIFY(elapsed.elapsed() < timing.relaunchDelay.count() + 2000);
    }

    void restartsTheRunnerWhenTheConfigurationChanges()
    {
        storeCredential();
        writeConfig();
        m_supervisor->start();
        QTRY_VERIFY_WITH_TIMEOUT(countOf(State::connected) >= 1, patience);
        const qint64 first = runnerLaunches().first();
        const qsizetype before = m_statuses.size();

        touchConfig(10);
        QTRY_VERIFY_WITH_TIMEOUT(runnerLaunches().size() == 2, patience);
        QTRY_VERIFY_WITH_TIMEOUT(m_statuses.last().state() == State::connected, patience);
        QVERIFY(!processExists(first));

        // starting at the tick that saw the change, starting when the runner ended, starting at the new
        // launch a relaunch delay later, then connected.
        QList<HelperStatus> after = m_statuses.mid(before);
        const auto connected = std::find_if(after.cbegin(), after.cend(), [](const HelperStatus &status) {
            return status.state() == State::connected;
        });
        after.resize(connected - after.cbegin() + 1);
        QCOMPARE(after.size(), 4);
        for (int i = 0; i < 3; ++i)
            QCOMPARE(after[i], HelperStatus(State::starting, after[i].lastHeartbeat()));
        QVERIFY(after[1].lastHeartbeat()->msecsTo(*after[2].lastHeartbeat()) >= timing.relaunchDelay.count() - 2);
        QCOMPARE(after[3].state(), State::connected);
    }

    void relaunchesAfterACrash()
    {
        m_bundle->setRuntime(RunnerBundle::crashingRunner());
        storeCredential();
        writeConfig();
        m_supervisor->start();
        QTRY_VERIFY_WITH_TIMEOUT(runnerLaunches().size() >= 2, patience);
        QTRY_VERIFY_WITH_TIMEOUT(countOf(State::needsAttention, crashed) >= 2, patience);
        QCOMPARE(m_statuses.first().state(), State::starting);
        QCOMPARE(m_statuses.at(1), HelperStatus(State::needsAttention, m_statuses.at(1).lastHeartbeat(), crashed));
    }

    void keepsAskingAStubbornRunnerAfterAConfigurationChangeButNeverKillsIt()
    {
        m_bundle->setRuntime(RunnerBundle::stubbornRunner());
        storeCredential();
        writeConfig();
        m_supervisor->start();
        QTRY_VERIFY_WITH_TIMEOUT(countOf(State::connected) >= 1, patience);
        const qint64 runner = runnerLaunches().first();

        touchConfig(10);
        QTRY_VERIFY_WITH_TIMEOUT(runnerRecord(QStringLiteral("terms")).count("term") >= 3, patience);
        QVERIFY(processExists(runner));
        QCOMPARE(runnerLaunches().size(), 1);
        QCOMPARE(m_statuses.last().state(), State::starting);
    }

    void killsAStubbornRunnerWhenStopping()
    {
        m_bundle->setRuntime(RunnerBundle::stubbornRunner());
        storeCredential();
        writeConfig();
        m_supervisor->start();
        QTRY_VERIFY_WITH_TIMEOUT(countOf(State::connected) >= 1, patience);
        const qint64 runner = runnerLaunches().first();

        QElapsedTimer elapsed;
        elapsed.start();
        stopAndWait();
        QVERIFY2(elapsed.elapsed() >= timing.killDelay.count() - 2, qPrintable(QString::number(elapsed.elapsed())));
        QVERIFY(!processExists(runner));
        QCOMPARE(runnerRecord(QStringLiteral("terms")).count("term"), 1);
        QCOMPARE(m_statuses.last().state(), State::stopped);
    }

    void completesEveryStopInCallOrder()
    {
        storeCredential();
        writeConfig();
        m_supervisor->start();
        QTRY_VERIFY_WITH_TIMEOUT(countOf(State::connected) >= 1, patience);
        const qint64 runner = runnerLaunches().first();

        QList<int> completed;
        bool runnerGoneAtFirstCompletion = false;
        m_supervisor->stop([&] {
            runnerGoneAtFirstCompletion = !processExists(runner);
            completed.append(1);
        });
        m_supervisor->stop([&] { completed.append(2); });
        QTRY_COMPARE_WITH_TIMEOUT(completed, QList<int>({1, 2}), patience);
        QVERIFY(runnerGoneAtFirstCompletion);
        QCOMPARE(countOf(State::stopped), 1);
        QCOMPARE(m_statuses.last().state(), State::stopped);
    }

    void stoppingCancelsAPendingLaunch()
    {
        m_supervisor->start();
        QTRY_VERIFY_WITH_TIMEOUT(countOf(State::needsAttention, disconnected) >= 1, patience);
        storeCredential();
        writeConfig();
        stopAndWait();
        const qsizetype published = m_statuses.size();
        QCOMPARE(m_statuses.last().state(), State::stopped);
        QTest::qWait(int(4 * timing.relaunchDelay.count()));
        QCOMPARE(m_statuses.size(), published);
        QVERIFY(runnerLaunches().isEmpty());
    }

    void survivesHundredsOfCrashesWithoutLeaks()
    {
        // /bin/true ends before or while its input is written, so both the crash and the failed
        // hand-over (EPIPE) come up again and again.
        QVERIFY(QFile::remove(m_bundle->runtimePath()));
        QVERIFY(QFile::link(QStringLiteral("/bin/true"), m_bundle->runtimePath()));
        storeCredential();
        writeConfig();
        m_supervisor.reset();
        m_supervisor = std::make_unique<RunnerSupervisor>(
            [this](const HelperStatus &status) { m_statuses.append(status); },
            RunnerSupervisorTiming{50ms, 300ms, 1ms, 300ms});
        m_supervisor->start();

        QTRY_VERIFY_WITH_TIMEOUT(countOf(State::starting) >= 20, patience);
        const qsizetype descriptors = openDescriptorCount();
        QTRY_VERIFY_WITH_TIMEOUT(countOf(State::starting) >= 200, 60000);
        stopAndWait();
        QCOMPARE(countOf(State::needsAttention, crashed) + countOf(State::needsAttention, couldNotStart)
                     + countOf(State::needsAttention),
                 m_statuses.size() - countOf(State::starting) - countOf(State::stopped));
        QTRY_COMPARE_WITH_TIMEOUT(zombieChildren(), 0, patience);
        QTRY_VERIFY_WITH_TIMEOUT(openDescriptorCount() <= descriptors, patience);
    }
};

QTEST_GUILESS_MAIN(tst_RunnerSupervisor)
#include "tst_runnersupervisor.moc"
