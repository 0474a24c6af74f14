#include "DiagnosticsReport.h"

#include "LocalState.h"
#include "StatusReport.h"
#include "common/BuildInfo.h"
#include "common/ProductionBaseURL.h"
#include "config/AppPaths.h"
#include "discovery/ProcessCommandRunner.h"
#include "discovery/ProviderDiscovery.h"
#include "status/StatusRedactor.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QFileInfo>
#include <QProcessEnvironment>
#include <QStandardPaths>
#include <QSysInfo>
#include <QUrl>

using namespace std::chrono_literals;

namespace {

// Enough for the helper's last start and what followed it.
constexpr int helperLogLines = 50;
// xdg-mime and journalctl answer at once or not at all.
constexpr std::chrono::milliseconds toolTimeLimit = 10s;

QString labelled(const QString &label, const QString &text)
{
    return (label + QLatin1Char(':')).leftJustified(22) + text;
}

QString heading(const QString &title)
{
    return QStringLiteral("\n== ") + title;
}

QString environment(const char *name)
{
    const QString value = qEnvironmentVariable(name);
    return value.isEmpty() ? QStringLiteral("(not set)") : value;
}

QStringList versions()
{
    return {
        heading(QStringLiteral("Versions")),
        labelled(QStringLiteral("Tarnwick"), QStringLiteral(TARNWICK_VERSION " (" TARNWICK_BUILD_NUMBER ")")),
        labelled(
            QStringLiteral("Qt"),
            QStringLiteral("%1 (built with %2)").arg(QString::fromLatin1(qVersion()), QStringLiteral(QT_VERSION_STR))),
        labelled(QStringLiteral("Operating system"), QSysInfo::prettyProductName()),
        labelled(QStringLiteral("Kernel"), QSysInfo::kernelVersion()),
        labelled(QStringLiteral("Desktop"), environment("XDG_CURRENT_DESKTOP")),
        labelled(QStringLiteral("Session type"), environment("XDG_SESSION_TYPE")),
    };
}

// Whether a bus name has an owner now, or the bus would start one when asked.
QString busNamePresence(const QDBusConnection &bus, const QString &name)
{
    QDBusConnectionInterface *interface = bus.interface();
    if (interface->isServiceRegistered(name).value())
        return QStringLiteral("running (%1)").arg(name);
    if (interface->activatableServiceNames().value().contains(name))
        return QStringLiteral("not running, started when needed (%1)").arg(name);
    return QStringLiteral("absent (%1)").arg(name);
}

// The first line a command printed, or its exit status when it printed nothing.
QString commandAnswer(const CommandResult &result)
{
    const QString firstLine = result.output.trimmed().section(QLatin1Char('\n'), 0, 0);
    if (result.exitCode == 0)
        return firstLine.isEmpty() ? QStringLiteral("none") : firstLine;
    return firstLine.isEmpty() ? QStringLiteral("failed (exit status %1)").arg(result.exitCode) : firstLine;
}

QString browserHandler()
{
    const QString xdgMime = QStandardPaths::findExecutable(QStringLiteral("xdg-mime"));
    if (xdgMime.isEmpty())
        return QStringLiteral("unknown (xdg-mime is not installed)");
    const CommandResult result = ProcessCommandRunner(toolTimeLimit)
                                     .run(xdgMime, {QStringLiteral("query"), QStringLiteral("default"),
                                                    QStringLiteral("x-scheme-handler/https")});
    return commandAnswer(result);
}

QStringList desktopServices()
{
    QStringList lines{heading(QStringLiteral("Desktop services"))};
    const QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        lines.append(
            labelled(QStringLiteral("Session bus"), QStringLiteral("not reachable: ") + bus.lastError().message()));
    } else {
        lines.append(labelled(QStringLiteral("Session bus"), QStringLiteral("connected")));
        lines.append(labelled(QStringLiteral("Tray host"),
                              busNamePresence(bus, QStringLiteral("org.kde.StatusNotifierWatcher"))));
        lines.append(labelled(QStringLiteral("Secret Service"),
                              busNamePresence(bus, QStringLiteral("org.freedesktop.secrets"))));
        lines.append(labelled(QStringLiteral("Notifications"),
                              busNamePresence(bus, QStringLiteral("org.freedesktop.Notifications"))));
    }
    lines.append(labelled(QStringLiteral("$BROWSER"), environment("BROWSER")));
    lines.append(labelled(QStringLiteral("Default web browser"), browserHandler()));
    return lines;
}

QString presence(const QString &path)
{
    return QFileInfo::exists(path) ? path : path + QStringLiteral(" (absent)");
}

QStringList loginItem(const LocalState &state)
{
    return {
        heading(QStringLiteral("Login item")),
        labelled(QStringLiteral("State"), rawValue(state.loginItem)),
        labelled(QStringLiteral("Helper program"), presence(state.helperExecutable)),
        labelled(QStringLiteral("Autostart entry"), presence(state.autostartEntryPath)),
    };
}

QStringList configuration(const LocalState &state)
{
    // The service address as built in, and as the configuration names it: without any user name or
    // password a hand-edited address might carry.
    const auto address = [](const QUrl &url) { return url.toString(QUrl::RemoveUserInfo); };
    QStringList lines{
        heading(QStringLiteral("Configuration")),
        labelled(QStringLiteral("Data folder"), presence(AppPaths::applicationSupportDirectory())),
        labelled(QStringLiteral("Configuration file"), presence(state.configPath)),
        labelled(QStringLiteral("Status file"), presence(state.statusPath)),
        labelled(QStringLiteral("Built-in service"), address(productionBaseURL())),
    };
    if (!state.config || !*state.config)
        return lines; // the status section says why
    const AppConfig &config = **state.config;
    lines.append(labelled(QStringLiteral("Service"), address(QUrl(config.apiUrl))));
    lines.append(labelled(QStringLiteral("Written by version"), config.appVersion));
    lines.append(labelled(QStringLiteral("Default folder"), config.defaultDirectory));
    lines.append(labelled(QStringLiteral("Codex"), config.providerPaths.codex.value_or(QStringLiteral("none"))));
    lines.append(
        labelled(QStringLiteral("Claude Code"), config.providerPaths.claudeCode.value_or(QStringLiteral("none"))));
    return lines;
}

QStringList status(const LocalState &state, const QDateTime &now)
{
    const StatusReport report(state, now);
    return QStringList{heading(QStringLiteral("Status"))} + report.lines()
           + QStringList{QStringLiteral("Can take calls: ")
                         + (report.isReady() ? QStringLiteral("yes") : QStringLiteral("no"))};
}

QStringList agentCheck()
{
    const ProviderDiscovery discovery;
    const ProviderReadiness readiness = discovery.discover();
    QStringList lines{heading(QStringLiteral("Coding agent check")),
                      labelled(QStringLiteral("Login shell"), discovery.shellPath())};
    for (const QString &message : readiness.messages)
        lines.append(labelled(QStringLiteral("Result"), message));
    lines.append(labelled(QStringLiteral("Codex"), readiness.paths.codex.value_or(QStringLiteral("not ready"))));
    lines.append(
        labelled(QStringLiteral("Claude Code"), readiness.paths.claudeCode.value_or(QStringLiteral("not ready"))));
    return lines;
}

QStringList helperLog()
{
    QStringList lines{heading(QStringLiteral("Helper log (journalctl --user)"))};
    const QString journalctl = QStandardPaths::findExecutable(QStringLiteral("journalctl"));
    if (journalctl.isEmpty())
        return lines << QStringLiteral("journalctl is not installed");
    // The helper's own lines, whether the journal knows it by its command or by its identifier.
    const CommandResult result =
        ProcessCommandRunner(toolTimeLimit)
            .run(journalctl, {QStringLiteral("--user"), QStringLiteral("--no-pager"), QStringLiteral("--quiet"),
                              QStringLiteral("--output=short-iso"), QStringLiteral("--lines=%1").arg(helperLogLines),
                              QStringLiteral("_COMM=TarnwickHelper"), QStringLiteral("+"),
                              QStringLiteral("SYSLOG_IDENTIFIER=TarnwickHelper")});
    if (result.exitCode != 0)
        return lines << QStringLiteral("not available: ") + commandAnswer(result);
    const QStringList logged = result.output.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    return lines + (logged.isEmpty() ? QStringList{QStringLiteral("no lines")} : logged);
}

} // namespace

namespace DiagnosticsReport {

QStringList collect(const QDateTime &now)
{
    const LocalState state = LocalState::read(LocalState::CredentialCheck::presence);
    QStringList lines{QStringLiteral("Tarnwick diagnostics, %1").arg(now.toUTC().toString(Qt::ISODate))};
    lines += versions();
    lines += desktopServices();
    lines += loginItem(state);
    lines += configuration(state);
    lines += status(state, now);
    lines += agentCheck();
    lines += helperLog();
    for (QString &line : lines)
        line = StatusRedactor::redact(line);
    return lines;
}

} // namespace DiagnosticsReport
