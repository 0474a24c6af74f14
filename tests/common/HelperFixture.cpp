#include "HelperFixture.h"
#include "TestFiles.h"
#include "TestKeyring.h"

#include "config/AppPaths.h"
#include "config/FileConfigStore.h"
#include "credentials/SystemCredentialStore.h"
#include "status/StatusStore.h"

#include <QDeadlineTimer>
#include <QTest>
#include <QUuid>

HelperFixture::HelperFixture(Credential where)
{
    QVERIFY(TestFiles::write(scriptPath(), "// stand-in\n"));
    setRuntime("{ cat; printf '%s\\n' \"$@\"; pwd; tr '\\0' '\\n' < /proc/$$/environ | sort; } > seen\n"
               "echo $$ >> launches\nexec sleep 600\n");
    qputenv("TWK_MAIN_APP_BUNDLE", QFile::encodeName(m_bundle.path()));
    QDir(AppPaths::applicationSupportDirectory()).removeRecursively();
    credentialStore->credential = credential();
    QVERIFY(writeConfig());
    if (where == Credential::inMemory)
        return;
    QVERIFY(TestKeyring::unlockDefault());
    QVERIFY(TestKeyring::deleteCredentialItems());
    QVERIFY(SystemCredentialStore(std::nullopt).save(credential()));
}

HelperParts HelperFixture::parts(RunnerSupervisorTiming timing) const
{
    HelperParts parts;
    parts.credentialReader = credentialStore;
    parts.configStore = std::make_shared<FileConfigStore>(AppPaths::config());
    parts.configPath = AppPaths::config();
    parts.statusPath = AppPaths::status();
    parts.applicationSupportDirectory = AppPaths::applicationSupportDirectory();
    parts.mainAppBundle = m_bundle.path();
    parts.logoMarkPath = QStringLiteral("/nonexistent.png");
    parts.apiClient = [](const QUrl &baseURL) { return DeviceAPIClient(baseURL); };
    parts.timing = timing;
    parts.activityTimeout = 0.5;
    return parts;
}

bool HelperFixture::writeConfig(const QString &apiUrl)
{
    const AppConfig config{apiUrl,
                           QUuid(QStringLiteral("3F2504E0-4F89-41D3-9A0C-0305E82C3301")),
                           QStringLiteral("0.3.0"),
                           {QDir::homePath()},
                           QDir::homePath(),
                           ProviderPaths{QStringLiteral("/usr/bin/codex"), std::nullopt}};
    return FileConfigStore(AppPaths::config()).save(config).has_value();
}

void HelperFixture::setRuntime(const QByteArray &scriptBody)
{
    const QByteArray overlaps = "for pid in $(cat launches 2>/dev/null); do\n"
                                "  grep -qs ') [^Z] ' /proc/$pid/stat && echo $pid >> overlaps\n"
                                "done\n";
    QVERIFY(TestFiles::writeScript(runtimePath(), overlaps + scriptBody));
}

qint64 startHelper(QProcess &helper, qsizetype launch)
{
    helper.setProgram(QStringLiteral(HELPER_PATH));
    helper.setProcessChannelMode(QProcess::ForwardedChannels);
    helper.start();
    if (!helper.waitForStarted()
        || !QTest::qWaitFor([=] { return runnerLaunches().size() == launch; }, HelperFixture::patience))
        return 0;
    return runnerLaunches().last();
}

QByteArray runnerRecord(const QString &name)
{
    return TestFiles::read(QDir(AppPaths::applicationSupportDirectory()).filePath(name));
}

QList<qint64> runnerLaunches()
{
    QList<qint64> pids;
    for (const QByteArray &line : runnerRecord(QStringLiteral("launches")).split('\n')) {
        if (!line.isEmpty())
            pids.append(line.toLongLong());
    }
    return pids;
}

QByteArrayList processStat(qint64 pid)
{
    const QByteArray stat = TestFiles::read(QStringLiteral("/proc/%1/stat").arg(pid));
    // The command name may hold blanks and parentheses, so read after the last ')'.
    return stat.isEmpty() ? QByteArrayList() : stat.mid(stat.lastIndexOf(')') + 2).split(' ');
}

bool hasEnded(qint64 pid)
{
    return processStat(pid).value(0, "Z") == "Z";
}

bool waitUntilEnded(qint64 pid)
{
    const QDeadlineTimer deadline(HelperFixture::patience);
    while (!hasEnded(pid) && !deadline.hasExpired())
        QTest::qSleep(2);
    return hasEnded(pid);
}

std::optional<HelperStatus> savedStatus()
{
    return StatusStore(AppPaths::status()).load().value_or(std::nullopt);
}
