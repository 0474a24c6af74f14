#include "DesktopActions.h"

#include "common/UrlLauncher.h"
#include "platform/DesktopLog.h"
#include "platform/SystemLoginItemManager.h"
#include "view/WindowEngine.h"

#include <QClipboard>
#include <QGuiApplication>

DesktopActions::DesktopActions(QUrl dashboard, QObject *parent)
    : QObject(parent)
    , m_dashboard(std::move(dashboard))
{
}

DesktopActions *DesktopActions::create(QQmlEngine *engine, QJSEngine *)
{
    return WindowEngine::desktopOf(engine);
}

void DesktopActions::openDashboard()
{
    UrlLauncher::open(m_dashboard, [](const Error &error) {
        qCWarning(lcDesktop).noquote() << "The dashboard could not be opened:" << error.description;
    });
}

void DesktopActions::openLoginItemsSettings()
{
    SystemLoginItemManager::openSystemSettingsLoginItems();
}

void DesktopActions::copyToClipboard(const QString &text)
{
    QGuiApplication::clipboard()->setText(text);
}
