#include "discovery/ProcessCommandRunner.h"
#include "discovery/ProviderDiscovery.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <functional>

using namespace std::chrono_literals;
using namespace Qt::StringLiterals;

namespace {

struct Call
{
    QString executable;
    QStringList arguments;

    friend bool operator==(const Call &, const Call &) = default;
};

// Answers from a table keyed by program and arguments (status 0 and no output otherwise) and records
// every call in order.
class RecordingRunner : public CommandRunning
{
public:
    void answer(const QString &executable, const QStringList &arguments, CommandResult result)
    {
        m_answers.insert(key(executable, arguments), std::move(result));
    }

    CommandResult run(const QString &executable, const QStringList &arguments) const override
    {
        calls.append(Call{executable, arguments});
        if (onRun)
            onRun(calls.last());
        return m_answers.value(key(executable, arguments), CommandResult{0, {}});
    }

    mutable QList<Call> calls;
    std::function<void(const Call &)> onRun;

private:
    static QString key(const QString &executable, const QStringList &arguments)
    {
        return executable + u'\n' + arguments.join(u'\n');
    }

    QHash<QString, CommandResult> m_answers;
};

const QString shell = u"/fake/shell"_s;
const QStringList shellQuery{u"-lic"_s, u"printf %s \"$PATH\""_s};
const QStringList version{u"--version"_s};
const QStringList loginStatus{u"login"_s, u"status"_s};

const QString installLine = u"Install Codex or Claude Code, then check again."_s;
const QString codexReadyLine = u"Codex is installed and signed in."_s;
const QString codexNotReadyLine = u"Codex needs you to sign in."_s;
const QString claudeReadyLine = u"Claude Code is installed; setup will verify it with a harmless task."_s;
const QString claudeNotReadyLine = u"Claude Code could not be started."_s;

} // namespace

Q_DECLARE_METATYPE(CommandResult)

class TestProviderDiscovery : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_root;

    QString home() const { return m_root.filePath(u"home"_s); }
    QString userBin() const { return home() + u"/.local/bin"_s; }
    QString folder(const QString &name) const { return m_root.filePath(name); }

    QStringList fixedDirectories() const { return {userBin(), u"/opt/homebrew/bin"_s, u"/usr/local/bin"_s}; }

    static QString install(const QString &directory, const QString &name, const QByteArray &body = "exit 0",
                           bool executable = true)
    {
        QDir().mkpath(directory);
        const QString path = directory + u'/' + name;
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            qFatal("cannot write %s", qPrintable(path));
        file.write("#!/bin/sh\n" + body + '\n');
        file.close();
        file.setPermissions(executable ? QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner
                                       : QFile::ReadOwner | QFile::WriteOwner);
        return path;
    }

    ProviderDiscovery discovery(const std::shared_ptr<RecordingRunner> &runner) const
    {
        return ProviderDiscovery(runner, home(), shell);
    }

private Q_SLOTS:
    void init()
    {
        QDir(m_root.path()).removeRecursively();
        QDir().mkpath(m_root.path());
    }

    void searchPaths_data()
    {
        QTest::addColumn<CommandResult>("shellAnswer");
        QTest::addColumn<QStringList>("fromShell");

        QTest::newRow("shell fails") << CommandResult{1, u"/usr/bin"_s} << QStringList();
        QTest::newRow("shell cannot start") << CommandResult{-1, u"No such file or directory"_s} << QStringList();
        QTest::newRow("empty answer") << CommandResult{0, QString()} << QStringList();
        QTest::newRow("empty piece and repeats dropped")
            << CommandResult{0, u"/usr/local/bin::/usr/bin:/opt/homebrew/bin"_s} << QStringList{u"/usr/bin"_s};
        QTest::newRow("trailing slash makes another entry")
            << CommandResult{0, u"/usr/bin:/usr/bin/:/usr/bin"_s} << QStringList{u"/usr/bin"_s, u"/usr/bin/"_s};
        QTest::newRow("white space kept") << CommandResult{0, u" /usr/bin:/sbin "_s}
                                          << QStringList{u" /usr/bin"_s, u"/sbin "_s};
        QTest::newRow("lines printed before the answer")
            << CommandResult{0, u"bash: cannot set terminal process group (-1): Inappropriate ioctl for device\n"
                                "bash: no job control in this shell\n/home/u/.nvm/bin:/usr/bin"_s}
            << QStringList{u"/home/u/.nvm/bin"_s, u"/usr/bin"_s};
        QTest::newRow("per-user directory not repeated")
            << CommandResult{0, userBin() + u":/bin"_s} << QStringList{u"/bin"_s};
        QTest::newRow("line feed after the answer")
            << CommandResult{0, u"/usr/bin:/bin\n"_s} << QStringList{u"/usr/bin"_s, u"/bin"_s};
    }

    void searchPaths()
    {
        QFETCH(CommandResult, shellAnswer);
        QFETCH(QStringList, fromShell);
        const auto runner = std::make_shared<RecordingRunner>();
        runner->answer(shell, shellQuery, shellAnswer);

        const QStringList directories = discovery(runner).searchPaths();

        QCOMPARE(directories, fixedDirectories() + fromShell);
        QCOMPARE(runner->calls, (QList<Call>{{shell, shellQuery}}));
    }

    void outcomes_data()
    {
        QTest::addColumn<bool>("codexFound");
        QTest::addColumn<int>("codexVersion");
        QTest::addColumn<int>("codexLogin");
        QTest::addColumn<bool>("claudeFound");
        QTest::addColumn<int>("claudeVersion");
        QTest::addColumn<bool>("codexReady");
        QTest::addColumn<bool>("claudeReady");
        QTest::addColumn<QStringList>("messages");

        QTest::newRow("neither found") << false << 0 << 0 << false << 0 << false << false << QStringList{installLine};
        QTest::newRow("codex ready") << true << 0 << 0 << false << 0 << true << false << QStringList{codexReadyLine};
        QTest::newRow("codex signed out")
            << true << 0 << 1 << false << 0 << false << false << QStringList{codexNotReadyLine};
        QTest::newRow("codex version fails")
            << true << 2 << 0 << false << 0 << false << false << QStringList{codexNotReadyLine};
        QTest::newRow("codex cannot start")
            << true << -1 << -1 << false << 0 << false << false << QStringList{codexNotReadyLine};
        QTest::newRow("claude ready")
            << false << 0 << 0 << true << 0 << false << true << QStringList{claudeReadyLine};
        QTest::newRow("claude fails")
            << false << 0 << 0 << true << 1 << false << false << QStringList{claudeNotReadyLine};
        QTest::newRow("claude cannot start")
            << false << 0 << 0 << true << -1 << false << false << QStringList{claudeNotReadyLine};
        QTest::newRow("both ready")
            << true << 0 << 0 << true << 0 << true << true << QStringList{codexReadyLine, claudeReadyLine};
        QTest::newRow("codex signed out, claude ready")
            << true << 0 << 1 << true << 0 << false << true << QStringList{codexNotReadyLine, claudeReadyLine};
        QTest::newRow("codex ready, claude fails")
            << true << 0 << 0 << true << 127 << true << false << QStringList{codexReadyLine, claudeNotReadyLine};
        QTest::newRow("neither ready")
            << true << 1 << 1 << true << 1 << false << false << QStringList{codexNotReadyLine, claudeNotReadyLine};
    }

    void outcomes()
    {
        QFETCH(bool, codexFound);
        QFETCH(int, codexVersion);
        QFETCH(int, codexLogin);
        QFETCH(bool, claudeFound);
        QFETCH(int, claudeVersion);
        QFETCH(bool, codexReady);
        QFETCH(bool, claudeReady);
        QFETCH(QStringList, messages);

        const QString agents = folder(u"agents"_s);
        const QString codex = agents + u"/codex"_s;
        const QString claude = agents + u"/claude"_s;
        if (codexFound)
            install(agents, u"codex"_s);
        if (claudeFound)
            install(agents, u"claude"_s);
        const auto runner = std::make_shared<RecordingRunner>();
        runner->answer(shell, shellQuery, CommandResult{0, agents});
        runner->answer(codex, version, CommandResult{codexVersion, u"codex 1.0\n"_s});
        runner->answer(codex, loginStatus, CommandResult{codexLogin, {}});
        runner->answer(claude, version, CommandResult{claudeVersion, {}});

        const ProviderReadiness readiness = discovery(runner).discover();

        ProviderPaths paths;
        if (codexReady)
            paths.codex = codex;
        if (claudeReady)
            paths.claudeCode = claude;
        QCOMPARE(readiness, (ProviderReadiness{paths, codexReady, claudeReady, messages}));
        QCOMPARE(readiness.paths.hasProvider(), codexReady || claudeReady);
    }

    void commandsRunInOrderAfterBothLookUps()
    {
        const QString agents = folder(u"agents"_s);
        const QString codex = install(agents, u"codex"_s);
        const QString claude = install(agents, u"claude"_s);
        const auto runner = std::make_shared<RecordingRunner>();
        runner->answer(shell, shellQuery, CommandResult{0, agents});
        runner->answer(codex, version, CommandResult{1, {}});
        // Removing claude once the first agent command runs must not matter: it was looked up before.
        runner->onRun = [&](const Call &call) {
            if (call.executable == codex)
                QFile::remove(claude);
        };

        const ProviderReadiness readiness = discovery(runner).discover();

        QCOMPARE(runner->calls,
                 (QList<Call>{{shell, shellQuery}, {codex, version}, {codex, loginStatus}, {claude, version}}));
        QCOMPARE(readiness.messages, (QStringList{codexNotReadyLine, claudeReadyLine}));
    }

    void lookUpSkipsWhatCannotBeExecuted()
    {
        const QString first = folder(u"first"_s);
        const QString second = folder(u"second"_s);
        install(first, u"claude"_s, "exit 0", false);
        QDir().mkpath(first + u"/codex"_s);
        const QString codex = install(second, u"codex"_s);
        const QString claude = install(second, u"claude"_s);
        const auto runner = std::make_shared<RecordingRunner>();
        runner->answer(shell, shellQuery, CommandResult{0, first + u':' + second});

        const ProviderReadiness readiness = discovery(runner).discover();

        QCOMPARE(readiness.paths, (ProviderPaths{codex, claude}));
    }

    void lookUpFollowsLinksButReportsTheLink()
    {
        const QString target = install(folder(u"real"_s), u"codex-1.0"_s);
        QDir().mkpath(userBin());
        const QString link = userBin() + u"/codex"_s;
        QVERIFY(QFile::link(target, link));
        const auto runner = std::make_shared<RecordingRunner>();

        QCOMPARE(discovery(runner).discover().paths.codex, link);
    }

    // From here on the agents and the shell are real programs.

    void realAgentsFoundThroughTheLoginShell()
    {
        const QString first = folder(u"first"_s);
        const QString second = folder(u"second"_s);
        const QString fakeShell = install(folder(u"shell"_s), u"sh"_s,
                                          "[ \"$1\" = -lic ] || exit 9\n"
                                          "PATH='" + first.toUtf8() + ':' + second.toUtf8() + "'; export PATH\n"
                                          "exec /bin/sh -c \"$2\"");
        const QByteArray codexBody = "case \"$1 $2\" in '--version ') echo codex 1.0 ;; 'login status') "
                                     "echo 'Logged in' >&2 ;; *) exit 2 ;; esac";
        const QString userCodex = install(userBin(), u"codex"_s, codexBody);
        install(first, u"codex"_s, "exit 1");
        install(first, u"claude"_s, "exit 0", false);
        const QString claude = install(second, u"claude"_s, "[ \"$1\" = --version ] && echo 2.0");
        const ProviderDiscovery discovery(std::make_shared<ProcessCommandRunner>(30s), home(), fakeShell);

        const QStringList fromShell{first, second};
        QCOMPARE(discovery.searchPaths(), fixedDirectories() + fromShell);
        const ProviderReadiness expected{ProviderPaths{userCodex, claude}, true, true,
                                         {codexReadyLine, claudeReadyLine}};
        QCOMPARE(discovery.discover(), expected);
    }

    void realBashLoginShellWithStartUpFiles()
    {
        if (!QFile::exists(u"/bin/bash"_s))
            QSKIP("bash is not installed");
        // The directory a login script puts first, as version managers of Node.js do.
        const QString tools = QDir::homePath() + u"/tools/bin"_s;
        const QString codex = install(tools, u"codex"_s);
        QFile profile(QDir::homePath() + u"/.bash_profile"_s);
        QVERIFY(profile.open(QIODevice::WriteOnly | QIODevice::Truncate));
        profile.write("echo 'Welcome back'\nPATH=\"$HOME/tools/bin:$PATH\"\nexport PATH\n");
        profile.close();
        const ProviderDiscovery discovery(std::make_shared<ProcessCommandRunner>(30s), home(), u"/bin/bash"_s);

        const ProviderReadiness readiness = discovery.discover();

        QFile::remove(profile.fileName());
        QDir(QDir::homePath() + u"/tools"_s).removeRecursively();
        QCOMPARE(readiness.paths.codex, codex);
        QVERIFY(readiness.codexReady);
    }

    void hangingAgentIsCutAtTheLimit()
    {
        const QString agents = folder(u"agents"_s);
        install(agents, u"codex"_s, "sleep 60");
        const QString fakeShell = install(folder(u"shell"_s), u"sh"_s, "printf %s '" + agents.toUtf8() + "'");
        const ProviderDiscovery discovery(std::make_shared<ProcessCommandRunner>(1s), home(), fakeShell);

        QElapsedTimer elapsed;
        elapsed.start();
        const ProviderReadiness readiness = discovery.discover();

        const ProviderReadiness expected{ProviderPaths{}, false, false, {codexNotReadyLine}};
        QCOMPARE(readiness, expected);
        QVERIFY(elapsed.elapsed() < 30'000);
    }

    void defaultsUseTheUsersHomeAndShell()
    {
        const QString fakeShell = install(folder(u"shell"_s), u"sh"_s, "printf %s /nonexistent");
        qputenv("SHELL", fakeShell.toLocal8Bit());
        const QString claude = install(QDir::homePath() + u"/.local/bin"_s, u"claude"_s);

        const ProviderDiscovery discovery;
        const ProviderReadiness readiness = discovery.discover();

        QFile::remove(claude);
        QCOMPARE(discovery.shellPath(), fakeShell);
        QCOMPARE(discovery.homeDirectory(), QDir::homePath());
        const auto *runner = dynamic_cast<const ProcessCommandRunner *>(discovery.runner().get());
        QVERIFY(runner);
        QCOMPARE(runner->timeLimit(), std::optional(std::chrono::milliseconds(30s)));
        QCOMPARE(readiness.paths.claudeCode, claude);
    }
};

QTEST_GUILESS_MAIN(TestProviderDiscovery)
#include "tst_providerdiscovery.moc"
