#pragma once

#include "AppTestSupport.h"

#include "view/DesktopActions.h"
#include "view/WindowLoader.h"

#include <QQuickItem>
#include <QQuickWindow>

// The desktop as the window sees it, recording instead of opening anything.
class RecordingDesktop final : public DesktopActions
{
    Q_OBJECT
public:
    RecordingDesktop() : DesktopActions(QUrl(QStringLiteral("http://127.0.0.1/"))) {}
    void openDashboard() override { calls.append(QStringLiteral("dashboard")); }
    void openLoginItemsSettings() override { calls.append(QStringLiteral("loginItems")); }
    QStringList calls;
};

// One model in one of the window's situations, with the window loaded over it.
class WindowHarness
{
public:
    enum class Situation {
        firstLaunch,       // nothing set up; the window opens the sign-in
        signInOpen,        // the sign-in is open in the browser
        signInError,       // the sign-in ended with a message
        checkingProviders, // paired, the agent check still running
        providersReady,    // paired, Codex found
        providersMissing,  // paired, no agent found, "Continue" refused
        noFolders,         // at the folder step with nothing chosen
        oneFolder,
        twoFolders,
        checkingConnection, // set up, no network report yet
        offline,
        readyForCalls,
        gettingReady,
        couldNotStart,
        needsApproval,
    };

    explicit WindowHarness(Situation situation);
    ~WindowHarness();

    AppModel &model() { return *m_model; }
    Seams &seams() { return m_seams; }
    RecordingDesktop &desktop() { return m_desktop; }
    QQuickWindow *window() const { return m_loader ? m_loader->window() : nullptr; }

    // The visible item of that name, or nothing.
    QQuickItem *item(const QString &objectName) const;
    // Any item of that name, shown or not.
    QQuickItem *anyItem(const QString &objectName) const;
    QString text(const QString &objectName) const;
    // Clicks the middle of the item as the user would.
    void click(QQuickItem *item) const;

private:
    void reachModelSituation(Situation situation);

    std::unique_ptr<LocalService> m_service;
    Seams m_seams;
    std::unique_ptr<AppModel> m_model;
    RecordingDesktop m_desktop;
    std::unique_ptr<WindowLoader> m_loader;
};

Q_DECLARE_METATYPE(WindowHarness::Situation)
