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
using namespace Qt::StringLiterals;

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

const QString shell = u"/fake/shell"_s;
const Call shellQuery{shell, u"-lic"_s, u"printf %s \"$PATH\""_s};

const QString installLine = u"Install Codex or Claude Code, then check again."_s;
const QString codexReadyLine = u"Codex is installed and signed in."_s;
const QString codexNotReadyLine = u"Codex needs you to sign in."_s;
const QString claudeReadyLine = u"Claude Code is installed; setup will verify it with a harmless task."_s;
const QString claudeNotReadyLine = u"Claude Code could not be started."_s;

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
    QFile stat(u"/proc/%1/stat"_s.arg(pid));
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
    QString userBin() const { return folder(u"home/.local/bin"_s); }
    ProviderDiscovery discovery() const { return ProviderDiscovery(m_runner, folder(u"home"_s), shell); }

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
            << 3 << u"café\na\uFFFDb\nagain\n"_s;
        QTest::newRow("2 MiB does not stall") << QByteArray("head -c 2097152 /dev/zero | tr '\\000' x; echo end >&2")
                                              << QStringList() << 0 << QString(2097152, u'x') + u"end\n"_s;
        QTest::newRow("arguments reach the program as given")
            << QByteArray("for a in \"$@\"; do printf '[%s]\\n' \"$a\"; done")
            << QStringList{u"two words"_s, u"\"double\""_s, u"it's"_s, u"$HOME"_s, u"*"_s, QString()} << 0
            << u"[two words]\n[\"double\"]\n[it's]\n[$HOME]\n[*]\n[]\n"_s;
        QTest::newRow("standard input is empty") << QByteArray("cat; echo done") << QStringList() << 0 << u"done\n"_s;
        QTest::newRow("killed by a signal")
            << QByteArray("echo before; kill -KILL $$") << QStringList() << 128 + SIGKILL << u"before\n"_s;
        // A daemon started by a login script may keep the output pipe open after the command itself ended.
        QTest::newRow("a daemon holds the output")
            << QByteArray("sleep 60 &\necho $! > \"$0.pid\"\necho started") << QStringList() << 0 << u"started\n"_s;
    }

    void completedCommand()
    {
        QFETCH(QByteArray, body);
        QFETCH(QStringList, arguments);
        QFETCH(int, exitCode);
        QFETCH(QString, output);
        const QString command = install(folder(u"bin"_s), u"command"_s, body);

        const CommandResult result = ProcessCommandRunner(30s).run(command, arguments);

        if (const qint64 daemon = pidIn(command + u".pid"_s); daemon > 0)
            ::kill(static_cast<pid_t>(daemon), SIGKILL);
        QCOMPARE(result, (CommandResult{exitCode, output}));
    }

    // A missing path, a file without execute permission, a bare name (never searched for).
    void programThatCannotStart()
    {
        for (const QString &executable :
             {folder(u"missing"_s), install(folder(u"bin"_s), u"plain"_s, "exit 0", false), u"sh"_s}) {
            const CommandResult result = ProcessCommandRunner().run(executable, {u"-c"_s, u"exit 0"_s});
            QVERIFY2(result.exitCode == -1 && !result.output.isEmpty(), qPrintable(executable));
        }
    }

    void timeLimitStopsTheCommandAndWhatItStarted()
    {
        const QString command =
            install(folder(u"bin"_s), u"hang"_s, "sleep 60 &\necho $! > \"$0.pid\"\necho waiting\nsleep 60");
        QElapsedTimer elapsed;
        elapsed.start();

        const CommandResult result = ProcessCommandRunner(1s).run(command, {});

        QCOMPARE(result, (CommandResult{-1, command + u" did not finish within 1 second and was stopped."_s}));
        QVERIFY(elapsed.elapsed() < 20'000);
        const qint64 background = pidIn(command + u".pid"_s);
        QVERIFY(background > 0);
        QTRY_VERIFY_WITH_TIMEOUT(!isAlive(background), 10'000);
    }

    void searchPaths_data()
    {
        QTest::addColumn<CommandResult>("shellAnswer");
        QTest::addColumn<QStringList>("fromShell");
        QTest::newRow("shell fails") << CommandResult{1, u"/usr/bin"_s} << QStringList();
        QTest::newRow("empty pieces and repeats dropped")
            << CommandResult{0, u"/usr/local/bin::/usr/bin:/opt/homebrew/bin:/usr/bin"_s} << QStringList{u"/usr/bin"_s};
        QTest::newRow("lines printed before the answer, line feed after")
            << CommandResult{0, u"bash: no job control in this shell\n/home/u/.nvm/bin:/usr/bin\n"_s}
            << QStringList{u"/home/u/.nvm/bin"_s, u"/usr/bin"_s};
    }

    void searchPaths()
    {
        QFETCH(CommandResult, shellAnswer);
        QFETCH(QStringList, fromShell);
        m_runner->answers.insert(shellQuery, shellAnswer);

        QCOMPARE(discovery().searchPaths(),
                 QStringList({userBin(), u"/opt/homebrew/bin"_s, u"/usr/local/bin"_s}) + fromShell);
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
        const QString agents = folder(u"agents"_s);
        const QString codex = agents + u"/codex"_s;
        const QString claude = agents + u"/claude"_s;
        if (codexVersion != -2)
            install(agents, u"codex"_s);
        if (claudeVersion != -2)
            install(agents, u"claude"_s);
        m_runner->answers.insert(shellQuery, CommandResult{0, agents});
        m_runner->answers.insert({codex, u"--version"_s}, CommandResult{codexVersion, u"codex 1.0\n"_s});
        m_runner->answers.insert({codex, u"login"_s, u"status"_s}, CommandResult{codexLogin, {}});
        m_runner->answers.insert({claude, u"--version"_s}, CommandResult{claudeVersion, {}});

        const ProviderReadiness readiness = discovery().discover();

        // Both agents are looked up first; every check runs whatever the one before it answered.
        QList<Call> calls{shellQuery};
        if (codexVersion != -2)
            calls << Call{codex, u"--version"_s} << Call{codex, u"login"_s, u"status"_s};
        if (claudeVersion != -2)
            calls << Call{claude, u"--version"_s};
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
        const QString first = folder(u"first"_s);
        const QString second = folder(u"second"_s);
        const QString fakeShell = install(folder(u"shell"_s), u"sh"_s,
                                          "[ \"$1\" = -lic ] || exit 9\n"
                                          "PATH='"
                                              + first.toUtf8() + ':' + second.toUtf8()
                                              + "'; export PATH\n"
                                                "exec /bin/sh -c \"$2\"");
        const QString userCodex = install(userBin(), u"codex"_s,
                                          "case \"$1 $2\" in '--version ') echo codex 1.0 ;; 'login status') "
                                          "echo 'Logged in' >&2 ;; *) exit 2 ;; esac");
        install(first, u"codex"_s, "exit 1");
        install(first, u"claude"_s, "exit 0", false);
        const QString claude = install(second, u"claude"_s);
        const ProviderDiscovery discovery(std::make_shared<ProcessCommandRunner>(10s), folder(u"home"_s), fakeShell);

        const ProviderReadiness expected{
            ProviderPaths{userCodex, claude}, true, true, {codexReadyLine, claudeReadyLine}};
        QCOMPARE(discovery.discover(), expected);
    }
};

QTEST_GUILESS_MAIN(TestDiscovery)
#include "tst_discovery.moc"
