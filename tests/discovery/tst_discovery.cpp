// The command runner and discovery, with real child processes.

#include "TestFiles.h"

#include "discovery/ProcessCommandRunner.h"
#include "discovery/ProviderDiscovery.h"

#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

using namespace std::chrono_literals;

namespace {

const QString codexReadyLine = QStringLiteral("Codex is installed and signed in.");
const QString codexNotReadyLine = QStringLiteral("Codex needs you to sign in.");
const QString claudeReadyLine = QStringLiteral("Claude Code is installed; setup will verify it with a harmless task.");

// The pid a script wrote next to itself.
qint64 pidIn(const QString &path)
{
    return TestFiles::read(path).trimmed().toLongLong();
}

// A killed process may stay a zombie for a while when nothing reaps orphans (as in some containers).
bool isAlive(qint64 pid)
{
    const QByteArray stat = TestFiles::read(QStringLiteral("/proc/%1/stat").arg(pid));
    return !stat.isEmpty() && stat.mid(stat.lastIndexOf(") ") + 2, 1) != "Z";
}

} // namespace

class TestDiscovery : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_root; // one per row

    QString path(const QString &name) const { return m_root->filePath(name); }
    QString install(const QString &directory, const QString &name, const QByteArray &body = "exit 0",
                    bool executable = true) const
    {
        const QString file = path(directory + u'/' + name);
        if (!(executable ? TestFiles::writeScript(file, body) : TestFiles::write(file, "#!/bin/sh\n" + body)))
            qFatal("cannot write %s", qPrintable(file));
        return file;
    }

private Q_SLOTS:
    void init() { m_root = std::make_unique<QTemporaryDir>(); }

    void completedCommand_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("output");
        QTest::newRow("both streams in one, untrimmed UTF-8")
            << QByteArray("printf 'caf\\303\\251\\n'; printf 'a\\377b\\n' >&2; echo again; exit 3") << 3
            << QStringLiteral("café\na\uFFFDb\nagain\n");
        QTest::newRow("2 MiB does not stall") << QByteArray("head -c 2097152 /dev/zero | tr '\\000' x; echo end >&2")
                                              << 0 << QString(2097152, u'x') + QStringLiteral("end\n");
        QTest::newRow("standard input is empty") << QByteArray("cat; echo done") << 0 << QStringLiteral("done\n");
        // A daemon started by a login script may keep the output pipe open after the command itself ended.
        QTest::newRow("a daemon holds the output")
            << QByteArray("sleep 60 &\necho $! > \"$0.pid\"\necho started") << 0 << QStringLiteral("started\n");
    }

    void completedCommand()
    {
        QFETCH(QByteArray, body);
        QFETCH(int, exitCode);
        QFETCH(QString, output);
        const QString command = install(QStringLiteral("bin"), QStringLiteral("command"), body);

        const CommandResult result = ProcessCommandRunner(30s).run(command, {});

        if (const qint64 daemon = pidIn(command + QStringLiteral(".pid")); daemon > 0)
            ::kill(static_cast<pid_t>(daemon), SIGKILL);
        QCOMPARE(result, (CommandResult{exitCode, output}));
    }

    // A missing path, a file without execute permission, a bare name (never searched for).
    void programThatCannotStart()
    {
        for (const QString &executable :
             {path(QStringLiteral("missing")), install(QStringLiteral("bin"), QStringLiteral("plain"), "exit 0", false),
              QStringLiteral("sh")}) {
            const CommandResult result =
                ProcessCommandRunner().run(executable, {QStringLiteral("-c"), QStringLiteral("exit 0")});
            QVERIFY2(result.exitCode == -1 && !result.output.isEmpty(), qPrintable(executable));
        }
    }

    void timeLimitStopsTheCommandAndWhatItStarted()
    {
        const QString command = install(QStringLiteral("bin"), QStringLiteral("hang"),
                                        "sleep 60 &\necho $! > \"$0.pid\"\necho waiting\nsleep 60");
        QElapsedTimer elapsed;
        elapsed.start();

        const CommandResult result = ProcessCommandRunner(1s).run(command, {});

        QCOMPARE(result,
                 (CommandResult{-1, command + QStringLiteral(" did not finish within 1 second and was stopped.")}));
        QVERIFY(elapsed.elapsed() < 20'000);
        const qint64 background = pidIn(command + QStringLiteral(".pid"));
        QVERIFY(background > 0);
        QTRY_VERIFY_WITH_TIMEOUT(!isAlive(background), 10'000);
    }

    // Rows: how Codex's version and sign-in checks end, and Claude Code's version check; -1: not installed.
    // The per-user directory comes before the search path the login shell prints after its own chatter, and
    // files there that cannot be executed are passed over.
    void outcomes_data()
    {
        QTest::addColumn<int>("codexVersion");
        QTest::addColumn<int>("codexLogin");
        QTest::addColumn<int>("claudeVersion");
        QTest::addColumn<QStringList>("messages");
        QTest::newRow("neither found") << -1 << 0 << -1
                                       << QStringList{
                                              QStringLiteral("Install Codex or Claude Code, then check again.")};
        QTest::newRow("codex signed out") << 0 << 1 << -1 << QStringList{codexNotReadyLine};
        QTest::newRow("codex version fails") << 2 << 0 << 0 << QStringList{codexNotReadyLine, claudeReadyLine};
        QTest::newRow("claude fails") << 0 << 0 << 1
                                      << QStringList{codexReadyLine,
                                                     QStringLiteral("Claude Code could not be started.")};
    }

    void outcomes()
    {
        QFETCH(int, codexVersion);
        QFETCH(int, codexLogin);
        QFETCH(int, claudeVersion);
        QFETCH(QStringList, messages);
        const QString userBin = QStringLiteral("home/.local/bin");
        const QString agents = QStringLiteral("agents");
        for (const QString &name : {QStringLiteral("codex"), QStringLiteral("claude")})
            install(QStringLiteral("unusable"), name, "exit 0", false);
        if (codexVersion >= 0) {
            install(userBin, QStringLiteral("codex"),
                    QStringLiteral("case \"$1\" in --version) exit %1 ;; login) exit %2 ;; esac")
                        .arg(codexVersion)
                        .arg(codexLogin)
                        .toUtf8());
            install(agents, QStringLiteral("codex"), "exit 1");
        }
        if (claudeVersion >= 0)
            install(agents, QStringLiteral("claude"), "exit " + QByteArray::number(claudeVersion));
        const QByteArray searchPath = QFile::encodeName(path(agents) + u':' + path(QStringLiteral("unusable")));
        const QString shell = install(QStringLiteral("shell"), QStringLiteral("sh"),
                                      "echo 'sh: no job control in this shell'; printf %s '" + searchPath + "'");

        const ProviderDiscovery discovery(std::make_shared<ProcessCommandRunner>(10s), path(QStringLiteral("home")),
                                          shell);

        const bool codexReady = codexVersion == 0 && codexLogin == 0;
        const bool claudeReady = claudeVersion == 0;
        const ProviderPaths paths{codexReady ? std::optional(path(userBin + QStringLiteral("/codex"))) : std::nullopt,
                                  claudeReady ? std::optional(path(agents + QStringLiteral("/claude"))) : std::nullopt};
        QCOMPARE(discovery.discover(), (ProviderReadiness{paths, codexReady, claudeReady, messages}));
    }
};

QTEST_GUILESS_MAIN(TestDiscovery)
#include "tst_discovery.moc"
