#include "SystemLoginItemManager.h"

#include "AutostartEntry.h"
#include "common/AtomicFile.h"
#include "common/BuildInfo.h"
#include "common/HelperInstanceLock.h"
#include "loginitem/LoginItemLog.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QProcessEnvironment>
#include <QStandardPaths>
#include <QUrl>

#include <cerrno>
#include <csignal>

namespace {

// Startup-applications settings per desktop, first match of XDG_CURRENT_DESKTOP wins.
struct SettingsCommand
{
    QString desktop;
    QString program;
    QStringList arguments;
};

QList<SettingsCommand> settingsCommands()
{
    return {
        {QStringLiteral("KDE"), QStringLiteral("systemsettings"), {QStringLiteral("kcm_autostart")}},
        {QStringLiteral("GNOME"), QStringLiteral("gnome-tweaks"), {}},
        {QStringLiteral("XFCE"), QStringLiteral("xfce4-session-settings"), {}},
        {QStringLiteral("MATE"), QStringLiteral("mate-session-properties"), {}},
        {QStringLiteral("Cinnamon"), QStringLiteral("cinnamon-settings"), {QStringLiteral("startup")}},
        {QStringLiteral("LXQt"), QStringLiteral("lxqt-config-session"), {}},
    };
}

} // namespace

SystemLoginItemManager::SystemLoginItemManager(Locations locations, RunningHelper runningHelper)
    : m_locations(std::move(locations))
    , m_runningHelper(std::move(runningHelper))
{
}

SystemLoginItemManager::Locations SystemLoginItemManager::installedLocations(const QString &identifier)
{
    // This program is <bundle>/Contents/MacOS/Tarnwick.
    const QDir bundle(QCoreApplication::applicationDirPath() + QStringLiteral("/../.."));
    return Locations{QDir::cleanPath(bundle.absoluteFilePath(QStringLiteral(TARNWICK_HELPER_IN_BUNDLE))),
                     AutostartEntry::path(identifier)};
}

std::shared_ptr<SystemLoginItemManager> SystemLoginItemManager::installed()
{
    const RunningHelper runningHelper = []() -> std::optional<pid_t> {
        const std::optional<qint64> pid = HelperInstanceLock::runningHelperPid();
        return pid ? std::optional<pid_t>(pid_t(*pid)) : std::nullopt;
    };
    return std::make_shared<SystemLoginItemManager>(installedLocations(QStringLiteral("com.tarnwick.mac.helper")),
                                                    runningHelper);
}

bool SystemLoginItemManager::helperIsInstalled() const
{
    const QFileInfo helper(m_locations.helperExecutable);
    return helper.isFile() && helper.isExecutable();
}

LoginItemState SystemLoginItemManager::state() const
{
    if (!helperIsInstalled())
        return LoginItemState::notFound;
    const Result<std::optional<QByteArray>> entry = AtomicFile::readIfPresent(m_locations.autostartEntry);
    if (entry && !*entry)
        return LoginItemState::notRegistered;
    // An entry that is there but cannot be read is still registered; only a readable switch counts as off.
    return entry && AutostartEntry::isSwitchedOff(**entry) ? LoginItemState::requiresApproval : LoginItemState::enabled;
}

Result<void> SystemLoginItemManager::registerItem()
{
    if (state() != LoginItemState::notRegistered)
        return {};
    const QString helper = m_locations.helperExecutable;
    if (Result<void> written = AtomicFile::replace(m_locations.autostartEntry, AutostartEntry::contents(helper));
        !written)
        return written;
    if (!QProcess::startDetached(helper, {}, QFileInfo(helper).absolutePath()))
        return failure(Error{QStringLiteral("LoginItem"), 1, QStringLiteral("Could not start %1.").arg(helper)});
    qCInfo(lcLoginItem).noquote() << "Wrote" << m_locations.autostartEntry << "and started the helper";
    return {};
}

Result<void> SystemLoginItemManager::unregisterItem()
{
    if (!QFileInfo::exists(m_locations.autostartEntry))
        return {};
    if (Result<void> removed = AtomicFile::removeIfPresent(m_locations.autostartEntry); !removed)
        return removed;
    qCInfo(lcLoginItem).noquote() << "Removed" << m_locations.autostartEntry;
    if (const std::optional<pid_t> helper = m_runningHelper ? m_runningHelper() : std::nullopt) {
        if (::kill(*helper, SIGTERM) != 0 && errno != ESRCH)
            return failure(Error::posix(errno, QStringLiteral("Stopping the helper")));
        qCInfo(lcLoginItem) << "Asked the helper, process" << *helper << ", to quit";
    }
    return {};
}

bool SystemLoginItemManager::openSystemSettingsLoginItems()
{
    const QStringList desktops = QProcessEnvironment::systemEnvironment()
                                     .value(QStringLiteral("XDG_CURRENT_DESKTOP"))
                                     .split(QLatin1Char(':'), Qt::SkipEmptyParts);
    for (const SettingsCommand &command : settingsCommands()) {
        const bool matches = std::any_of(desktops.begin(), desktops.end(), [&](const QString &desktop) {
            return desktop.compare(command.desktop, Qt::CaseInsensitive) == 0;
        });
        if (matches && !QStandardPaths::findExecutable(command.program).isEmpty()
            && QProcess::startDetached(command.program, command.arguments))
            return true;
    }
    const QString folder = QFileInfo(AutostartEntry::path(QStringLiteral("x"))).absolutePath();
    QDir().mkpath(folder);
    return QDesktopServices::openUrl(QUrl::fromLocalFile(folder));
}
