// The command runner with real child processes, then discovery over a scripted runner and over real programs.

#include "TestFiles.h"

#include "discovery/ProcessCommandRunner.h"
#include "discovery/ProviderDiscovery.h"

#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

using namespace std::chrono_literals;

namespace {

using Call = QStringList; // the program, then its arguments

// Answers from a table keyed by the call (status 0 and no output otherwise) and records every call.
class ScriptedRunner : public CommandRunning
{
public:
    CommandResult run(const QString &executable, const QStringList &arguments) const override
    {
        calls.append(Call{executable} + arguments);
        return answers.value(calls.last(), CommandResult{0, {}});
    }

    QHash<Call, CommandResult> answers;
    mutable QList<Call> calls;
};

const QString shell = QStringLiteral("/fake/shell");
const Call shellQuery{shell, QStringLiteral("-lic"), QStringLiteral("printf %s \"$PATH\"")};

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

Q_DECLARE_METATYPE(CommandResult)

class TestDiscovery : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_root; // one per row
    std::shared_ptr<ScriptedRunner> m_runner;

    QString path(const QString &name) const { return m_root->filePath(name); }
    QString userBin() const { return path(QStringLiteral("home/.local/bin")); }
    QString install(const QString &directory, const QString &name, const QByteArray &body = "exit 0",
                    bool executable = true) const
    {
        const QString file = path(directory + u'/' + name);
        if (!(executable ? TestFiles::writeScript(file, body) : TestFiles::write(file, "#!/bin/sh\n" + body)))
            qFatal("cannot write %s", qPrintable(file));
        return file;
    }

private Q_SLOTS:
    void init()
    {
        m_root = std::make_unique<QTemporaryDir>();
        m_runner = std::make_shared<ScriptedRunner>();
    }

    void completedCommand_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("output");
        QTest::newRow("both streams in one, untrimmed UTF-8")
            << QByteArray("printf 'caf\\303\\251\\n'; printf 'a\\377b\\n' >&2; echo again; exit 3") << QStringList()
            << 3 << QStringLiteral("café\na\uFFFDb\nagain\n");
        QTest::newRow("2 MiB does not stall") << QByteArray("head -c 2097152 /dev/zero | tr '\\000' x; echo end >&2")
                                              << QStringList() << 0 << QString(2097152, u'x') + QStringLiteral("end\n");
        QTest::newRow("arguments reach the program as given")
            << QByteArray("for a in \"$@\"; do printf '[%s]\\n' \"$a\"; done")
            << QStringList{QStringLiteral("two words"), QStringLiteral("\"double\""), QStringLiteral("it's"),
                           QStringLiteral("$HOME"),     QStringLiteral("*"),          QString()}
            << 0 << QStringLiteral("[two words]\n[\"double\"]\n[it's]\n[$HOME]\n[*]\n[]\n");
        QTest::newRow("standard input is empty")
            << QByteArray("cat; echo done") << QStringList() << 0 << QStringLiteral("done\n");
        QTest::newRow("killed by a signal")
            << QByteArray("echo before; kill -KILL $$") << QStringList() << 128 + SIGKILL << QStringLiteral("before\n");
        // A daemon started by a login script may keep the output pipe open after the command itself ended.
        QTest::newRow("a daemon holds the output") << QByteArray("sleep 60 &\necho $! > \"$0.pid\"\necho started")
                                                   << QStringList() << 0 << QStringLiteral("started\n");
    }

    void completedCommand()
    {
        QFETCH(QByteArray, body);
        QFETCH(QStringList, arguments);
        QFETCH(int, exitCode);
        QFETCH(QString, output);
        const QString command = install(QStringLiteral("bin"), QStringLiteral("command"), body);

        const CommandResult result = ProcessCommandRunner(30s).run(command, arguments);

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

    void searchPaths_data()
    {
        QTest::addColumn<CommandResult>("shellAnswer");
        QTest::addColumn<QStringList>("fromShell");
        QTest::newRow("shell fails") << CommandResult{1, QStringLiteral("/usr/bin")} << QStringList();
        QTest::newRow("empty pieces and repeats dropped")
            << CommandResult{0, QStringLiteral("/usr/local/bin::/usr/bin:/opt/homebrew/bin:/usr/bin")}
            << QStringList{QStringLiteral("/usr/bin")};
        QTest::newRow("lines printed before the answer, line feed after")
            << CommandResult{0, QStringLiteral("bash: no job control in this shell\n/home/u/.nvm/bin:/usr/bin\n")}
            << QStringList{QStringLiteral("/home/u/.nvm/bin"), QStringLiteral("/usr/bin")};
    }

    void searchPaths()
    {
        QFETCH(CommandResult, shellAnswer);
        QFETCH(QStringList, fromShell);
        m_runner->answers.insert(shellQuery, shellAnswer);

        const ProviderDiscovery discovery(m_runner, path(QStringLiteral("home")), shell);

        QCOMPARE(discovery.searchPaths(),
                 QStringList({userBin(), QStringLiteral("/opt/homebrew/bin"), QStringLiteral("/usr/local/bin")})
                     + fromShell);
        QCOMPARE(m_runner->calls, QList<Call>{shellQuery});
    }

    // Rows: what each check of Codex answers (its version, then its sign-in) and Claude Code's version check;
    // -2 stands for an agent not installed.
    void outcomes_data()
    {
        QTest::addColumn<int>("codexVersion");
        QTest::addColumn<int>("codexLogin");
        QTest::addColumn<int>("claudeVersion");
        QTest::addColumn<QStringList>("messages");
        QTest::newRow("neither found") << -2 << 0 << -2
                                       << QStringList{
                                              QStringLiteral("Install Codex or Claude Code, then check again.")};
        QTest::newRow("codex signed out") << 0 << 1 << -2 << QStringList{codexNotReadyLine};
        QTest::newRow("codex cannot start") << -1 << -1 << 0 << QStringList{codexNotReadyLine, claudeReadyLine};
        QTest::newRow("claude cannot start")
            << 0 << 0 << -1 << QStringList{codexReadyLine, QStringLiteral("Claude Code could not be started.")};
    }

    void outcomes()
    {
        QFETCH(int, codexVersion);
        QFETCH(int, codexLogin);
        QFETCH(int, claudeVersion);
        QFETCH(QStringList, messages);
        const QString agents = path(QStringLiteral("agents"));
        const QString codex = agents + QStringLiteral("/codex");
        const QString claude = agents + QStringLiteral("/claude");
        if (codexVersion != -2)
            install(QStringLiteral("agents"), QStringLiteral("codex"));
        if (claudeVersion != -2)
            install(QStringLiteral("agents"), QStringLiteral("claude"));
        m_runner->answers.insert(shellQuery, CommandResult{0, agents});
        m_runner->answers.insert({codex, QStringLiteral("--version")}, CommandResult{codexVersion, {}});
        m_runner->answers.insert({codex, QStringLiteral("login"), QStringLiteral("status")},
                                 CommandResult{codexLogin, {}});
        m_runner->answers.insert({claude, QStringLiteral("--version")}, CommandResult{claudeVersion, {}});

        const ProviderReadiness readiness = ProviderDiscovery(m_runner, path(QStringLiteral("home")), shell).discover();

        const bool codexReady = codexVersion == 0 && codexLogin == 0;
        const bool claudeReady = claudeVersion == 0;
        const ProviderPaths paths{codexReady ? std::optional(codex) : std::nullopt,
                                  claudeReady ? std::optional(claude) : std::nullopt};
        QCOMPARE(readiness, (ProviderReadiness{paths, codexReady, claudeReady, messages}));
    }

    // Real programs: the shell sets its own search path; the per-user directory still comes first, and a file
    // that cannot be executed is passed over for the next one on the path.
    void realAgentsFoundThroughTheLoginShell()
    {
        const QString first = path(QStringLiteral("first"));
        const QString second = path(QStringLiteral("second"));
        const QString fakeShell = install(QStringLiteral("shell"), QStringLiteral("sh"),
                                          "[ \"$1\" = -lic ] || exit 9\n"
                                          "PATH='"
                                              + first.toUtf8() + ':' + second.toUtf8()
                                              + "'; export PATH\n"
                                                "exec /bin/sh -c \"$2\"");
        const QString userCodex = install(QStringLiteral("home/.local/bin"), QStringLiteral("codex"),
                                          "case \"$1 $2\" in '--version ') echo codex 1.0 ;; 'login status') "
                                          "echo 'Logged in' >&2 ;; *) exit 2 ;; esac");
        install(QStringLiteral("first"), QStringLiteral("codex"), "exit 1");
        install(QStringLiteral("first"), QStringLiteral("claude"), "exit 0", false);
        const QString claude = install(QStringLiteral("second"), QStringLiteral("claude"));
        const ProviderDiscovery discovery(std::make_shared<ProcessCommandRunner>(10s), path(QStringLiteral("home")),
                                          fakeShell);

        const ProviderReadiness expected{
            ProviderPaths{userCodex, claude}, true, true, {codexReadyLine, claudeReadyLine}};
        QCOMPARE(discovery.discover(), expected);
    }
};

QTEST_GUILESS_MAIN(TestDiscovery)
#include "tst_discovery.moc"
