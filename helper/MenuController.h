#pragma once

#include "DesktopNotifying.h"
#include "HelperParts.h"
#include "MenuItem.h"
#include "menu/AttentionNotice.h"
#include "menu/MenuActivityCache.h"
#include "status/HelperStatus.h"

#include <QCoroTask>
#include <QIcon>
#include <QObject>
#include <QUrl>

#include <functional>
#include <memory>
#include <optional>

class QMenu;
class QSystemTrayIcon;
class TrayHostWatcher;

// The helper's only interface: a tray item whose menu shows the runner's state, the running task and
// the latest tasks, and offers to open a task's page, the setup window, the dashboard, or to quit.
// Everything here runs on the main thread. Without a tray (stock GNOME) the controller works all the
// same: its item appears when a tray shows up, and a desktop notification says when Tarnwick needs
// attention.
class MenuController : public QObject
{
    Q_OBJECT

public:
    explicit MenuController(const HelperParts &parts, QObject *parent = nullptr);
    ~MenuController() override;

    // Every status the supervisor publishes.
    void update(const HelperStatus &status);

    // The menu as it was last built.
    const QList<MenuItem> &items() const { return m_items; }
    QMenu *menu() const { return m_menu.get(); }
    const QString &toolTip() const { return m_toolTip; }
    // The image the tray item shows: "LogoMark", else the name of the symbol that stands for the state
    // (drawn from the desktop's icon theme, which may lack it).
    const QString &iconName() const { return m_iconName; }

    // The menu is about to open: rebuild it and fetch the activity.
    void aboutToShow();

Q_SIGNALS:
    // Quit Tarnwick was chosen.
    void quitChosen();
    // An activity fetch ended and its result was applied.
    void activityRefreshed();

private:
    void showTrayIcon();
    void rebuildMenu();
    void noticeAttention();
    void updateIcon();
    QCoro::Task<> refreshActivity(quint64 generation);
    QCoro::Task<> fetchActivity(QUrl baseURL, QString credential, quint64 generation);
    void perform(const MenuItem &item);
    void openTask(const QString &representedObject);
    // Starts the setup application (or brings it forward); `activationToken` lets the desktop raise it.
    void openMainApp(const QString &activationToken = {});
    void openDashboard();
    // The service's web root from the configuration, else the built-in service address.
    QUrl dashboardURL();

    const std::shared_ptr<const CredentialReading> m_credentialReader;
    const std::shared_ptr<ConfigStoring> m_configStore;
    const std::function<DeviceAPIClient(const QUrl &)> m_apiClient;
    const QString m_mainAppBundle;
    const double m_activityTimeout;

    QSystemTrayIcon *m_trayIcon = nullptr;
    std::unique_ptr<QMenu> m_menu;
    std::optional<HelperStatus> m_helperStatus;
    MenuActivityCache m_activityCache;
    bool m_credentialInvalid = false;
    // Each fetch gets the next number; a fetch whose number is no longer current was cancelled.
    quint64 m_refreshGeneration = 0;
    TrayHostWatcher *m_trayHostWatcher = nullptr;
    std::unique_ptr<DesktopNotifying> m_notifier;
    AttentionNotice m_attentionNotice;

    // The brand mark, decoded once; absent when the file cannot be loaded.
    std::optional<QIcon> m_brandIcon;
    QList<MenuItem> m_items;
    QString m_iconName;
    QIcon m_icon;
    QString m_toolTip;
};
