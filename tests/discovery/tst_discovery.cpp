#include "TestFiles.h"

#include "discovery/ProcessCommandRunner.h"
#include "discovery/ProviderDiscovery.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

using namespace std::chrono_literals;

namespace {

using Call = QStringList; // the program, then its arguments

// Answers from a table keyed by the call (status 0 and no output otherwise) and records every call in order.
class RecordingRunner : public CommandRunning
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

const QString installLine = QStringLiteral("Install Codex or Claude Code, then check again.");
const QString codexReadyLine = QStringLiteral("Codex is installed and signed in.");
const QString codexNotReadyLine = QStringLiteral("Codex needs you to sign in.");
const QString claudeReadyLine = QStringLiteral("Claude Code is installed; setup will verify it with a harmless task.");
const QString claudeNotReadyLine = QStringLiteral("Claude Code could not be started.");

QString install(const QString &directory, const QString &name, const QByteArray &body = "exit 0",
                bool executable = true)
{
    const QString path = directory + u'/' + name;
    if (!(executable ? TestFiles::writeScript(path, body) : TestFiles::write(path, "#!/bin/sh\n" + body)))
        qFatal("cannot write %s", qPrintable(path));
    return path;
}

// The pid a script wrote next to itself.
qint64 pidIn(const QString &path)
{
    return TestFiles::read(path).trimmed().toLongLong();
}

// A killed process may stay a zombie for a while when nothing reaps orphans (as in some containers).
bool isAlive(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return false;
    const QByteArray line = stat.readAll();
    return line.mid(line.lastIndexOf(") ") + 2, 1) != "Z";
}

} // namespace

Q_DECLARE_METATYPE(CommandResult)

// The command runner with real child processes, then discovery over a recording runner and over real programs.
class TestDiscovery : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_root;
    std::shared_ptr<RecordingRunner> m_runner;

    // A folder of the current test row's own.
    QString folder(const QString &name) const
    {
        const QString row =
            QString::fromUtf8(QTest::currentTestFunction()) + u'/' + QString::fromUtf8(QTest::currentDataTag());
        return QDir::cleanPath(m_root.filePath(row + u'/' + name));
    }
    QString userBin() const { return folder(QStringLiteral("home/.local/bin")); }
    ProviderDiscovery discovery() const { return ProviderDiscovery(m_runner, folder(QStringLiteral("home")), shell); }

private Q_SLOTS:
    void init() { m_runner = std::make_shared<RecordingRunner>(); }

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
        const QString command = install(folder(QStringLiteral("bin")), QStringLiteral("command"), body);

        const CommandResult result = ProcessCommandRunner(30s).run(command, arguments);

        if (const qint64 daemon = pidIn(command + QStringLiteral(".pid")); daemon > 0)
            ::kill(static_cast<pid_t>(daemon), SIGKILL);
        QCOMPARE(result, (CommandResult{exitCode, output}));
    }

    // A missing path, a file without execute permission, a bare name (never searched for).
    void programThatCannotStart()
    {
        for (const QString &executable :
             {folder(QStringLiteral("missing")),
              install(folder(QStringLiteral("bin")), QStringLiteral("plain"), "exit 0", false), QStringLiteral("sh")}) {
            const CommandResult result =
                ProcessCommandRunner().run(executable, {QStringLiteral("-c"), QStringLiteral("exit 0")});
            QVERIFY2(result.exitCode == -1 && !result.output.isEmpty(), qPrintable(executable));
        }
    }

    void timeLimitStopsTheCommandAndWhatItStarted()
    {
        const QString command = install(folder(QStringLiteral("bin")), QStringLiteral("hang"),
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

        QCOMPARE(discovery().searchPaths(),
                 QStringList({userBin(), QStringLiteral("/opt/homebrew/bin"), QStringLiteral("/usr/local/bin")})
                     + fromShell);
        QCOMPARE(m_runner->calls, QList<Call>{shellQuery});
    }

    void outcomes_data()
    {
        QTest::addColumn<int>("codexVersion"); // -2: not installed
        QTest::addColumn<int>("codexLogin");
        QTest::addColumn<int>("claudeVersion"); // -2: not installed
        QTest::addColumn<QStringList>("messages");
        QTest::newRow("neither found") << -2 << 0 << -2 << QStringList{installLine};
        QTest::newRow("codex ready") << 0 << 0 << -2 << QStringList{codexReadyLine};
        QTest::newRow("codex signed out") << 0 << 1 << -2 << QStringList{codexNotReadyLine};
        QTest::newRow("codex version fails") << 2 << 0 << -2 << QStringList{codexNotReadyLine};
        QTest::newRow("codex cannot start") << -1 << -1 << -2 << QStringList{codexNotReadyLine};
        QTest::newRow("claude ready") << -2 << 0 << 0 << QStringList{claudeReadyLine};
        QTest::newRow("claude cannot start") << -2 << 0 << -1 << QStringList{claudeNotReadyLine};
        QTest::newRow("both ready") << 0 << 0 << 0 << QStringList{codexReadyLine, claudeReadyLine};
    }

    void outcomes()
    {
        QFETCH(int, codexVersion);
        QFETCH(int, codexLogin);
        QFETCH(int, claudeVersion);
        QFETCH(QStringList, messages);
        const QString agents = folder(QStringLiteral("agents"));
        const QString codex = agents + QStringLiteral("/codex");
        const QString claude = agents + QStringLiteral("/claude");
        if (codexVersion != -2)
            install(agents, QStringLiteral("codex"));
        if (claudeVersion != -2)
            install(agents, QStringLiteral("claude"));
        m_runner->answers.insert(shellQuery, CommandResult{0, agents});
        m_runner->answers.insert({codex, QStringLiteral("--version")},
                                 CommandResult{codexVersion, QStringLiteral("codex 1.0\n")});
        m_runner->answers.insert({codex, QStringLiteral("login"), QStringLiteral("status")},
                                 CommandResult{codexLogin, {}});
        m_runner->answers.insert({claude, QStringLiteral("--version")}, CommandResult{claudeVersion, {}});

        const ProviderReadiness readiness = discovery().discover();

        // Both agents are looked up first; every check runs whatever the one before it answered.
        QList<Call> calls{shellQuery};
        if (codexVersion != -2)
            calls << Call{codex, QStringLiteral("--version")}
                  << Call{codex, QStringLiteral("login"), QStringLiteral("status")};
        if (claudeVersion != -2)
            calls << Call{claude, QStringLiteral("--version")};
        QCOMPARE(m_runner->calls, calls);
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
        const QString first = folder(QStringLiteral("first"));
        const QString second = folder(QStringLiteral("second"));
        const QString fakeShell = install(folder(QStringLiteral("shell")), QStringLiteral("sh"),
                                          "[ \"$1\" = -lic ] || exit 9\n"
                                          "PATH='"
                                              + first.toUtf8() + ':' + second.toUtf8()
                                              + "'; export PATH\n"
                                                "exec /bin/sh -c \"$2\"");
        const QString userCodex = install(userBin(), QStringLiteral("codex"),
                                          "case \"$1 $2\" in '--version ') echo codex 1.0 ;; 'login status') "
                                          "echo 'Logged in' >&2 ;; *) exit 2 ;; esac");
        install(first, QStringLiteral("codex"), "exit 1");
        install(first, QStringLiteral("claude"), "exit 0", false);
        const QString claude = install(second, QStringLiteral("claude"));
        const ProviderDiscovery discovery(std::make_shared<ProcessCommandRunner>(10s), folder(QStringLiteral("home")),
                                          fakeShell);

        const ProviderReadiness expected{
            ProviderPaths{userCodex, claude}, true, true, {codexReadyLine, claudeReadyLine}};
        QCOMPARE(discovery.discover(), expected);
    }
};

QTEST_GUILESS_MAIN(TestDiscovery)
#include "tst_discovery.moc"
