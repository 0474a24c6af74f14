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

// One model in one of the window's situations, with the window shown over it.
class WindowHarness
{
public:
    enum class Situation {
        firstLaunch, signInError,                            // the window opens the sign-in when shown
        checkingProviders, providersReady, providersMissing, // paired
        noFolders, oneFolder, twoFolders,                    // at the folder step
        checkingConnection, offline, readyForCalls, gettingReady, couldNotStart, needsApproval, // set up
    };

    explicit WindowHarness(Situation situation);
    ~WindowHarness() { m_loader.reset(); }

    AppModel &model() { return *m_model; }
    Seams &seams() { return m_seams; }
    RecordingDesktop &desktop() { return m_desktop; }
    QQuickWindow *window() const { return m_loader ? m_loader->window() : nullptr; }
    // The visible item of that name, or nothing.
    QQuickItem *item(const QString &objectName) const;
    // Clicks the middle of the visible item as the user would.
    void click(const QString &objectName) const;

private:
    void reachModelSituation(Situation situation);

    LocalServiceProcess m_service{QStringList{QStringLiteral("--approve-immediately")}};
    Seams m_seams;
    std::unique_ptr<AppModel> m_model;
    RecordingDesktop m_desktop;
    std::unique_ptr<WindowLoader> m_loader;
};

Q_DECLARE_METATYPE(WindowHarness::Situation)
