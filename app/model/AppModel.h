#pragma once

#include "discovery/ProviderReadiness.h"
#include "model/AppModelParts.h"
#include "model/FolderListModel.h"
#include "model/HelperLifecycle.h"
#include "model/SetupState.h"
#include "model/SignInFlow.h"
#include "onboarding/ReadyStatus.h"

#include <QCoroTask>
#include <QObject>
#include <QPointer>
#include <QUrl>
#include <QUuid>
#include <QVariant>

#include <optional>

// The setup window's model: the setup step and what the window shows, restored at start-up from the
// configuration file and the stored credential, kept current by reading the helper's status every few
// seconds and by watching the network. The account's sign-in, the helper's life and the folder list are
// parts of their own; this is what the window sees of them. All state lives on the main thread.
class AppModel : public QObject
{
    Q_OBJECT
    Q_PROPERTY(Step step READ stepShown NOTIFY machineChanged)
    // Absent (null) until a check ran or a configuration was restored; else a map with codexReady,
    // claudeCodeReady, hasProvider and messages.
    Q_PROPERTY(QVariant providerReadiness READ providerReadinessValue NOTIFY providerReadinessChanged)
    Q_PROPERTY(QList<QUrl> selectedFolders READ selectedFolders NOTIFY selectedFoldersChanged)
    // Null, or a map with state, lastHeartbeat and error.
    Q_PROPERTY(QVariant helperStatus READ helperStatusValue NOTIFY helperStatusChanged)
    Q_PROPERTY(QVariant errorMessage READ errorMessageValue NOTIFY errorMessageChanged)
    Q_PROPERTY(Recovery recoveryAction READ recoveryActionShown NOTIFY recoveryActionChanged)
    Q_PROPERTY(QVariant networkAvailable READ networkAvailableValue NOTIFY networkAvailableChanged)
    Q_PROPERTY(bool busy READ busy NOTIFY busyChanged)
    // The stored credential is being read at start-up (the keyring may be asking to be unlocked); the
    // step is not known yet.
    Q_PROPERTY(bool restoring READ restoring NOTIFY restoringChanged)

    // Presentation of the fields above, for the window.
    Q_PROPERTY(ReadyState readyStatus READ readyStatusShown NOTIFY readyStatusChanged)
    // The selected folders with their names and paths as the window shows them.
    Q_PROPERTY(FolderListModel *folders READ folderList CONSTANT)
    Q_PROPERTY(QString folderSummary READ folderSummary NOTIFY selectedFoldersChanged)
    Q_PROPERTY(bool signInOpen READ signInOpen NOTIFY busyChanged)
    // The connection page of the open sign-in, for the user to open by hand ("Copy Link"); empty when
    // none is open. It names the request's challenge, never its verifier.
    Q_PROPERTY(QString signInLink READ signInLink NOTIFY signInLinkChanged)
    // No browser took the open sign-in's page; the sign-in keeps waiting for the callback.
    Q_PROPERTY(bool browserUnavailable READ browserUnavailable NOTIFY browserUnavailableChanged)
    // A folder chooser is open; a second one is not opened meanwhile.
    Q_PROPERTY(bool choosingFolders READ choosingFolders NOTIFY choosingFoldersChanged)

public:
    // The step, the ready screen's status line and the recovery action as the window compares them. They
    // list the core's OnboardingStep, ReadyStatus and HelperRecoveryAction in the same order, capitalised
    // because QML reads no enumerator that begins with a small letter.
    enum class Step { Connect, Providers, Folders, Connected, NeedsAttention };
    Q_ENUM(Step)
    enum class ReadyState { CheckingConnection, Offline, ReadyForCalls, GettingReady, CouldNotStart };
    Q_ENUM(ReadyState)
    enum class Recovery { NoRecovery, RegisterHelper, Restart, EnableInSystemSettings, Reinstall };
    Q_ENUM(Recovery)

    explicit AppModel(AppModelParts parts, QObject *parent = nullptr);
    ~AppModel() override;

    const OnboardingStateMachine &machine() const { return m_state.machine(); }
    const std::optional<ProviderReadiness> &providerReadiness() const { return m_providerReadiness; }
    const QList<QUrl> &selectedFolders() const { return m_folders.folders(); }
    const std::optional<HelperStatus> &helperStatus() const { return m_helper.helperStatus(); }
    const std::optional<QString> &errorMessage() const { return m_state.errorMessage(); }
    HelperRecoveryAction recoveryAction() const { return m_helper.recoveryAction(); }
    std::optional<bool> networkAvailable() const { return m_networkAvailable; }
    bool busy() const { return m_state.busy(); }
    bool restoring() const { return m_signIn.restoring(); }
    QString signInLink() const { return m_signIn.signInLink().toString(QUrl::FullyEncoded); }
    bool browserUnavailable() const { return m_signIn.browserUnavailable(); }
    bool choosingFolders() const { return m_choosingFolders; }
    // A browser sign-in is open and waits for its callback.
    bool signInOpen() const { return m_signIn.signInOpen(); }
    const std::optional<QUuid> &deviceId() const { return m_signIn.deviceId(); }

    // The window has been shown. The first time, once the stored setup has been read, a computer that is
    // not set up opens the sign-in by itself; never again after that.
    Q_INVOKABLE void windowShown();
    Q_INVOKABLE void signIn();
    // Ends an open browser sign-in as if the user had cancelled it there.
    Q_INVOKABLE void cancelSignIn();
    Q_INVOKABLE void checkProviders();
    Q_INVOKABLE void continueFromProviders();
    Q_INVOKABLE void chooseFolders();
    Q_INVOKABLE void finishSetup();
    Q_INVOKABLE void changeFolders();
    Q_INVOKABLE void logOut();

    // Reloads the status file and judges the helper's health.
    void readStatus() { m_helper.readStatus(); }
    // Checks the helper's login item and status now and once more after the grace period; a newer call
    // replaces a pending second check.
    void ensureHelperLifecycle() { m_helper.ensure(); }

Q_SIGNALS:
    void machineChanged();
    void providerReadinessChanged();
    void selectedFoldersChanged();
    void helperStatusChanged();
    void errorMessageChanged();
    void recoveryActionChanged();
    void networkAvailableChanged();
    void busyChanged();
    void restoringChanged();
    void signInLinkChanged();
    void browserUnavailableChanged();
    void choosingFoldersChanged();
    void readyStatusChanged();
    // A long-running piece of work (confirmation, check, sign-in completion, log-out) has ended;
    // lets callers wait without polling.
    void operationFinished();

private:
    Step stepShown() const;
    QVariant providerReadinessValue() const;
    QVariant helperStatusValue() const;
    QVariant errorMessageValue() const;
    Recovery recoveryActionShown() const;
    QVariant networkAvailableValue() const;
    ReadyState readyStatusShown() const;
    FolderListModel *folderList() { return &m_folders; }
    QString folderSummary() const { return m_folders.summary(); }

    void forwardSignals();
    void restoreFromConfig(const AppConfig &config);
    void setProviderReadiness(std::optional<ProviderReadiness> readiness);
    void setSelectedFolders(QList<QUrl> folders);
    void setNetworkAvailable(bool available);
    void setChoosingFolders(bool choosing);
    void refreshReadyStatus();
    void signInIfFirstShown();

    static QCoro::Task<> runProviderCheck(QPointer<AppModel> self);
    static QCoro::Task<> chooseFoldersTask(QPointer<AppModel> self);
    static QCoro::Task<> changeFoldersTask(QPointer<AppModel> self);
    Result<void> saveFinishedSetup();
    Result<void> saveChangedFolders();

    AppModelParts m_parts;
    SetupState m_state;
    HelperLifecycle m_helper;
    // Declared after the parts: it waits for its keyring calls before the credential store goes.
    SignInFlow m_signIn;
    FolderListModel m_folders;
    std::optional<ProviderReadiness> m_providerReadiness;
    std::optional<bool> m_networkAvailable;
    bool m_choosingFolders = false;
    ReadyStatus m_readyStatus = ReadyStatus::checkingConnection;
    bool m_windowShown = false;
    bool m_initialSignInDecided = false;
};
