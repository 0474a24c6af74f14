#include "TarnwickApp.h"

#include "api/DeviceAPIClient.h"
#include "common/BuildInfo.h"
#include "common/ProductionBaseURL.h"
#include "config/AppPaths.h"
#include "config/FileConfigStore.h"
#include "credentials/SystemCredentialStore.h"
#include "discovery/ProviderDiscovery.h"
#include "model/AppModel.h"
#include "pairing/PairingSecurity.h"
#include "platform/HostName.h"
#include "platform/SystemBrowserSignIn.h"
#include "platform/SystemFolderChooser.h"
#include "platform/SystemLoginItemManager.h"
#include "platform/SystemNetworkMonitor.h"
#include "platform/WindowActivation.h"
#include "view/DesktopActions.h"
#include "view/WindowLoader.h"

#include <QCoreApplication>
#include <QQuickWindow>

namespace {

QString logoMarkPath()
{
    return QCoreApplication::applicationDirPath() + QStringLiteral("/../Resources/LogoMark.png");
}

} // namespace

AppModelParts TarnwickApp::systemParts(const QUrl &service, std::unique_ptr<SystemBrowserSignIn> signIn)
{
    AppModelParts parts;
    parts.configStore = std::make_unique<FileConfigStore>(AppPaths::config());
    parts.credentialStore = std::make_unique<SystemCredentialStore>(SystemCredentialStore::sharedAccessGroup(),
                                                                    SystemCredentialStore::UnlockPrompt::allowed);
    parts.api = std::make_unique<DeviceAPIClient>(service);
    parts.loginItem = [] { return SystemLoginItemManager::installed(); };
    parts.signIn = std::move(signIn);
    parts.discoverProviders = [] { return ProviderDiscovery().discover(); };
    parts.folderChooser = std::make_unique<SystemFolderChooser>();
    parts.networkMonitor = std::make_unique<SystemNetworkMonitor>();
    parts.clock = std::make_unique<SystemClock>();
    parts.deviceName = HostName::localizedName;
    parts.statusPath = AppPaths::status();
    parts.baseURL = service;
    parts.appVersion = QStringLiteral(TARNWICK_VERSION);
    parts.appBuild = QStringLiteral(TARNWICK_BUILD_NUMBER);
    return parts;
}

TarnwickApp::TarnwickApp()
{
    auto signIn = std::make_unique<SystemBrowserSignIn>();
    m_signIn = signIn.get();
    AppModelParts parts = systemParts(productionBaseURL(), std::move(signIn));
    auto *chooser = static_cast<SystemFolderChooser *>(parts.folderChooser.get());
    m_model = std::make_unique<AppModel>(std::move(parts));
    m_desktop = std::make_unique<DesktopActions>(productionBaseURL());
    m_loader = std::make_unique<WindowLoader>(*m_model, *m_desktop, logoMarkPath());
    chooser->setParentWindow(m_loader->window());
}

TarnwickApp::~TarnwickApp()
{
    // The window goes before the model it shows.
    m_loader.reset();
}

bool TarnwickApp::showWindow()
{
    if (!m_loader->window())
        return false;
    bringToFront({});
    return true;
}

void TarnwickApp::handleMessage(const InstanceMessage &message)
{
    if (const QUrl url(message.url); url.scheme() == PairingSecurity::callbackScheme)
        m_signIn->acceptCallback(url);
    bringToFront(message);
}

void TarnwickApp::bringToFront(const InstanceMessage &activation)
{
    QQuickWindow *window = m_loader->window();
    if (!window)
        return;
    window->show();
    window->raise();
    WindowActivation::activate(window, activation);
}
