#include "ProviderDiscovery.h"

#include "discovery/ProcessCommandRunner.h"

#include <QDir>
#include <QFileInfo>

#include <array>

#include <pwd.h>
#include <unistd.h>

namespace {

// A login, interactive shell so that the user's start-up files set the search path; no trailing newline.
const QStringList searchPathQuery{QStringLiteral("-lic"), QStringLiteral("printf %s \"$PATH\"")};

QString loginShellOfAccount()
{
    passwd entry{};
    passwd *account = nullptr;
    std::array<char, 16384> buffer{};
    if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &account) != 0 || !account || !account->pw_shell)
        return {};
    return QFile::decodeName(account->pw_shell);
}

// Like the shell's own command look-up: a file (links followed) that this user may execute. A directory
// that carries the name is passed over.
bool isExecutableFile(const QString &path)
{
    return QFileInfo(path).isFile() && ::access(QFile::encodeName(path).constData(), X_OK) == 0;
}

// The search path is printed last and without a line feed. Whole lines before it come from the shell
// itself or from the user's start-up files (bash started with -i and no terminal always warns that it has
// no job control); glued to the first directory they would hide it.
QString printedSearchPath(const QString &output)
{
    const QStringList lines = output.split(u'\n', Qt::SkipEmptyParts);
    return lines.isEmpty() ? QString() : lines.last();
}

} // namespace

ProviderDiscovery::ProviderDiscovery()
    : ProviderDiscovery(std::make_shared<ProcessCommandRunner>(commandTimeLimit), QDir::homePath(), defaultShellPath())
{
}

ProviderDiscovery::ProviderDiscovery(std::shared_ptr<const CommandRunning> runner, QString homeDirectory,
                                     QString shellPath)
    : m_runner(std::move(runner))
    , m_homeDirectory(std::move(homeDirectory))
    , m_shellPath(std::move(shellPath))
{
}

QString ProviderDiscovery::defaultShellPath()
{
    if (const QString shell = qEnvironmentVariable("SHELL"); !shell.isEmpty())
        return shell;
    if (const QString shell = loginShellOfAccount(); !shell.isEmpty())
        return shell;
    return QStringLiteral("/bin/zsh");
}

QStringList ProviderDiscovery::searchPaths() const
{
    QStringList directories{m_homeDirectory + QStringLiteral("/.local/bin"), QStringLiteral("/opt/homebrew/bin"),
                            QStringLiteral("/usr/local/bin")};
    if (const CommandResult shell = m_runner->run(m_shellPath, searchPathQuery); shell.exitCode == 0)
        directories += printedSearchPath(shell.output).split(u':', Qt::SkipEmptyParts);
    directories.removeDuplicates();
    return directories;
}

std::optional<QString> ProviderDiscovery::find(const QString &name, const QStringList &directories)
{
    for (const QString &directory : directories) {
        const QString candidate = QDir(directory).absoluteFilePath(name);
        if (isExecutableFile(candidate))
            return candidate;
    }
    return std::nullopt;
}

bool ProviderDiscovery::isCodexReady(const QString &codex) const
{
    // Both checks run whatever the first one answered.
    const bool versionOk = m_runner->run(codex, {QStringLiteral("--version")}).exitCode == 0;
    const bool signedIn = m_runner->run(codex, {QStringLiteral("login"), QStringLiteral("status")}).exitCode == 0;
    return versionOk && signedIn;
}

bool ProviderDiscovery::isClaudeCodeReady(const QString &claude) const
{
    return m_runner->run(claude, {QStringLiteral("--version")}).exitCode == 0;
}

ProviderReadiness ProviderDiscovery::discover() const
{
    const QStringList directories = searchPaths();
    const std::optional<QString> codex = find(QStringLiteral("codex"), directories);
    const std::optional<QString> claude = find(QStringLiteral("claude"), directories);

    ProviderReadiness readiness;
    if (codex) {
        readiness.codexReady = isCodexReady(*codex);
        readiness.messages.append(readiness.codexReady ? QStringLiteral("Codex is installed and signed in.")
                                                       : QStringLiteral("Codex needs you to sign in."));
        if (readiness.codexReady)
            readiness.paths.codex = codex;
    }
    if (claude) {
        readiness.claudeCodeReady = isClaudeCodeReady(*claude);
        readiness.messages.append(readiness.claudeCodeReady ? QStringLiteral(
                                      "Claude Code is installed; setup will verify it with a harmless task.")
                                                            : QStringLiteral("Claude Code could not be started."));
        if (readiness.claudeCodeReady)
            readiness.paths.claudeCode = claude;
    }
    if (!codex && !claude)
        readiness.messages.append(QStringLiteral("Install Codex or Claude Code, then check again."));
    return readiness;
}
