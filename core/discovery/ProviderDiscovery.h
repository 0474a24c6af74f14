#pragma once

#include "discovery/CommandRunning.h"
#include "discovery/ProviderReadiness.h"

#include <QString>
#include <QStringList>

#include <chrono>
#include <memory>
#include <optional>

// Finds the Codex and Claude Code executables in a few install directories and the login shell's search
// path, and asks each whether it is ready. Blocks while the outside programs run: call it off the
// user-interface thread.
class ProviderDiscovery
{
public:
    // How long each command of a default discovery may run before it is stopped, so that a login shell
    // waiting for input or a hanging agent cannot keep setup checking forever.
    static constexpr std::chrono::milliseconds commandTimeLimit = std::chrono::seconds(30);

    // Defaults: a ProcessCommandRunner limited to `commandTimeLimit`, the user's home directory and
    // `defaultShellPath()`.
    ProviderDiscovery();
    ProviderDiscovery(std::shared_ptr<const CommandRunning> runner, QString homeDirectory, QString shellPath);

    // SHELL of this process; when it is unset or empty, the login shell of the user's account entry;
    // when that is unknown too, "/bin/zsh".
    static QString defaultShellPath();

    // The per-user directory, "/opt/homebrew/bin", "/usr/local/bin", then the directories the login shell
    // reports, each entry once, in order of first appearance.
    QStringList searchPaths() const;
    ProviderReadiness discover() const;

    const QString &shellPath() const { return m_shellPath; }

private:
    static std::optional<QString> find(const QString &name, const QStringList &directories);

    bool isCodexReady(const QString &codex) const;
    bool isClaudeCodeReady(const QString &claude) const;

    std::shared_ptr<const CommandRunning> m_runner;
    QString m_homeDirectory;
    QString m_shellPath;
};
