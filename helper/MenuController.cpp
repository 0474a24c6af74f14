#include "MenuController.h"

#include "DesktopNotifier.h"
#include "MenuLog.h"
#include "TrayHostWatcher.h"
#include "api/APIError.h"
#include "api/DashboardLinks.h"
#include "api/DeviceAPIClient.h"
#include "common/BuildInfo.h"
#include "common/ProductionBaseURL.h"
#include "common/UrlLauncher.h"
#include "menu/MenuStatusPresentation.h"
#include "status/StatusStore.h"

#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QImageReader>
#include <QMenu>
#include <QPointer>
#include <QProcess>
#include <QSystemTrayIcon>

namespace {

constexpr int menuBarImageSize = 18;

// The desktop icon theme's names for the symbols the status presentation asks for.
QIcon symbolImage(const QString &systemImageName)
{
    if (systemImageName == u"exclamationmark.triangle.fill")
        return QIcon::fromTheme(QStringLiteral("dialog-warning"));
    if (systemImageName == u"laptopcomputer")
        return QIcon::fromTheme(QStringLiteral("computer-laptop"), QIcon::fromTheme(QStringLiteral("computer")));
    return QIcon();
}

// Scaled rather than painted: smooth scaling averages the source's pixels (the painter would sample them),
// and the helper then needs none of the painter's machinery for the whole session.
QPixmap scaledPixmap(const QImage &image, int size, qreal devicePixelRatio)
{
    const int pixels = qRound(size * devicePixelRatio);
    QPixmap pixmap = QPixmap::fromImage(image.scaled(pixels, pixels, Qt::IgnoreAspectRatio, Qt::SmoothTransformation));
    pixmap.setDevicePixelRatio(devicePixelRatio);
    return pixmap;
}

// A menu text as Qt shows it: "&" would otherwise mark a mnemonic.
QString menuText(const QString &text)
{
    QString escaped = text;
    return escaped.replace(u'&', QStringLiteral("&&"));
}

// The brand mark as an 18×18 template image, or absent when the file cannot be loaded.
std::optional<QIcon> brandedMenuImage(const QString &logoMarkPath)
{
    // Qt's own PNG reader alone: detecting the format would load every image plugin to ask it, and keep
    // them loaded for the whole session.
    QImageReader reader(logoMarkPath, "png");
    reader.setAutoDetectImageFormat(false);
    const QImage image = reader.read();
    if (image.isNull())
        return std::nullopt;
    QIcon icon;
    icon.addPixmap(scaledPixmap(image, menuBarImageSize, 1));
    icon.addPixmap(scaledPixmap(image, menuBarImageSize, 2));
    icon.setIsMask(true);
    return icon;
}

std::optional<QUrl> absoluteURL(const QString &text)
{
    const QUrl url(text, QUrl::StrictMode);
    if (!url.isValid() || url.isRelative())
        return std::nullopt;
    return url;
}

} // namespace

MenuController::MenuController(const HelperParts &parts, QObject *parent)
    : QObject(parent)
    , m_credentialReader(parts.credentialReader)
    , m_configStore(parts.configStore)
    , m_apiClient(parts.apiClient)
    , m_mainAppBundle(parts.mainAppBundle)
    , m_activityTimeout(parts.activityTimeout)
    , m_menu(std::make_unique<QMenu>())
    , m_trayHostWatcher(new TrayHostWatcher(this))
    , m_notifier(std::make_unique<DesktopNotifier>([this](const QString &token) { openMainApp(token); }))
    , m_brandIcon(brandedMenuImage(parts.logoMarkPath))
{
    const Result<std::optional<HelperStatus>> previous = StatusStore(parts.statusPath).load();
    if (previous)
        m_helperStatus = *previous;
    else
        qCWarning(lcMenu).noquote() << "The last status could not be read:" << previous.error().description;

    connect(m_menu.get(), &QMenu::aboutToShow, this, &MenuController::aboutToShow);
    rebuildMenu();
    connect(m_trayHostWatcher, &TrayHostWatcher::hostAvailable, this, &MenuController::showTrayIcon);
}

// The tray icon refers to the menu, so it goes first.
MenuController::~MenuController()
{
    delete m_trayIcon;
}

void MenuController::showTrayIcon()
{
    if (m_trayIcon)
        return;
    m_trayIcon = new QSystemTrayIcon(m_icon, this);
    m_trayIcon->setToolTip(m_toolTip);
    m_trayIcon->setContextMenu(m_menu.get());
    // A plain click opens the menu too, as it does on other desktops' status items.
    connect(m_trayIcon, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::Trigger)
            m_menu->popup(QCursor::pos());
    });
    m_trayIcon->show();
    qCInfo(lcMenu) << "Showing the status item in the tray";
}

void MenuController::update(const HelperStatus &status)
{
    m_helperStatus = status;
    rebuildMenu();
    noticeAttention();
}

void MenuController::noticeAttention()
{
    switch (m_attentionNotice.update(m_helperStatus, m_credentialInvalid, QDateTime::currentDateTimeUtc())) {
    case AttentionNotice::Action::show:
        return m_notifier->show(MenuStatusPresentation::attention().title,
                                AttentionNotice::body(m_helperStatus, m_credentialInvalid));
    case AttentionNotice::Action::withdraw: return m_notifier->withdraw();
    case AttentionNotice::Action::none: return;
    }
}

void MenuController::rebuildMenu()
{
    const MenuStatusPresentation presentation = MenuStatusPresentation::make(
        m_helperStatus, LoginItemState::enabled, m_credentialInvalid, QDateTime::currentDateTimeUtc());
    m_items = MenuItem::menu(presentation.title, m_activityCache);

    m_menu->clear();
    for (const MenuItem &item : std::as_const(m_items)) {
        if (item.separator) {
            m_menu->addSeparator();
            continue;
        }
        QAction *entry = m_menu->addAction(menuText(item.text));
        entry->setEnabled(item.enabled);
        entry->setData(item.representedObject);
        if (item.action != MenuItem::Action::none)
            connect(entry, &QAction::triggered, this, [this, item] { perform(item); });
    }
    updateIcon();
}

void MenuController::perform(const MenuItem &item)
{
    switch (item.action) {
    case MenuItem::Action::openTask: return openTask(item.representedObject);
    case MenuItem::Action::openMainApp: return openMainApp();
    case MenuItem::Action::openDashboard: return openDashboard();
    case MenuItem::Action::quit: return Q_EMIT quitChosen();
    case MenuItem::Action::none: return;
    }
}

void MenuController::updateIcon()
{
    const MenuStatusPresentation presentation = MenuStatusPresentation::make(
        m_helperStatus, LoginItemState::enabled, m_credentialInvalid, QDateTime::currentDateTimeUtc());
    // The tray hears of a change only: every new icon or text is a message to the tray's process.
    const QString iconName = m_brandIcon ? QStringLiteral("LogoMark") : presentation.systemImageName;
    if (iconName != m_iconName) {
        m_icon = m_brandIcon ? *m_brandIcon : symbolImage(presentation.systemImageName);
        m_icon.setIsMask(true);
        m_iconName = iconName;
        if (m_trayIcon)
            m_trayIcon->setIcon(m_icon);
    }
    const QString toolTip = QStringLiteral("Tarnwick — ") + presentation.title;
    if (toolTip != m_toolTip) {
        m_toolTip = toolTip;
        if (m_trayIcon)
            m_trayIcon->setToolTip(m_toolTip);
    }
}

void MenuController::aboutToShow()
{
    rebuildMenu();
    refreshActivity(++m_refreshGeneration);
}

QCoro::Task<> MenuController::refreshActivity(quint64 generation)
{
    const QPointer<MenuController> self(this);
    // A slow Secret Service must not hold up the menu, so the read does not block. (Named: GCC 12 destroys
    // a temporary of a co_await expression twice.)
    const std::shared_ptr<const CredentialReading> reader = m_credentialReader;
    auto reading = reader->readAsync();
    const CredentialReading::Answer credential = co_await reading;
    if (!self || self->m_refreshGeneration != generation)
        co_return;
    std::optional<QUrl> baseURL;
    if (!credential) {
        qCWarning(lcMenu).noquote() << "Task activity not fetched: the device credential could not be read:"
                                    << credential.error().description;
    } else if (*credential) {
        const Result<std::optional<AppConfig>> config = self->m_configStore->load();
        if (!config)
            qCWarning(lcMenu).noquote() << "Task activity not fetched: the configuration could not be read:"
                                        << config.error().description;
        else if (*config && !(baseURL = absoluteURL((*config)->apiUrl)))
            qCWarning(lcMenu) << "Task activity not fetched: the configured service address is not an absolute URL";
    }
    if (!baseURL) {
        self->m_activityCache.recordFailure();
        self->rebuildMenu();
        Q_EMIT self->activityRefreshed();
        co_return;
    }
    co_await self->fetchActivity(*baseURL, **credential, generation);
}

QCoro::Task<> MenuController::fetchActivity(QUrl baseURL, QString credential, quint64 generation)
{
    const QPointer<MenuController> self(this);
    const DeviceAPIClient client = m_apiClient(baseURL);
    const Result<DeviceTaskActivity> activity = co_await client.activity(credential, m_activityTimeout);
    if (!self || self->m_refreshGeneration != generation)
        co_return;

    if (activity) {
        self->m_credentialInvalid = false;
        self->m_activityCache.recordSuccess(*activity);
    } else {
        qCWarning(lcMenu).noquote() << "Task activity could not be fetched:" << activity.error().description;
        if (APIError::isUnauthorized(activity.error()))
            self->m_credentialInvalid = true;
        self->m_activityCache.recordFailure();
    }
    self->rebuildMenu();
    self->noticeAttention();
    Q_EMIT self->activityRefreshed();
}

void MenuController::openTask(const QString &representedObject)
{
    const QUuid taskId = QUuid::fromString(representedObject);
    if (taskId.isNull())
        return;
    const std::optional<QUrl> page = DashboardLinks::task(dashboardURL(), taskId);
    if (page) {
        UrlLauncher::open(*page, [](const Error &error) {
            qCWarning(lcMenu).noquote() << "The task's page could not be opened:" << error.description;
        });
    }
}

QUrl MenuController::dashboardURL()
{
    const Result<std::optional<AppConfig>> config = m_configStore->load();
    if (config && *config) {
        if (const std::optional<QUrl> url = absoluteURL((*config)->apiUrl))
            return *url;
    }
    return productionBaseURL();
}

void MenuController::openDashboard()
{
    UrlLauncher::open(dashboardURL(), [](const Error &error) {
        qCWarning(lcMenu).noquote() << "The dashboard could not be opened:" << error.description;
    });
}

void MenuController::openMainApp(const QString &activationToken)
{
    // The setup application is single-instance: a second start brings the running window to the front,
    // and the token it passes on lets the desktop raise that window.
    QProcess application;
    application.setProgram(QDir(m_mainAppBundle).filePath(QStringLiteral(TARNWICK_APP_IN_BUNDLE)));
    application.setWorkingDirectory(QDir::homePath());
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove(QStringLiteral("XDG_ACTIVATION_TOKEN"));
    environment.remove(QStringLiteral("DESKTOP_STARTUP_ID"));
    if (!activationToken.isEmpty()) {
        const bool wayland = QGuiApplication::platformName().startsWith(u"wayland");
        environment.insert(wayland ? QStringLiteral("XDG_ACTIVATION_TOKEN") : QStringLiteral("DESKTOP_STARTUP_ID"),
                           activationToken);
    }
    application.setProcessEnvironment(environment);
    if (!application.startDetached())
        qCWarning(lcMenu).noquote() << "The setup application could not be started:" << application.errorString();
}
