#pragma once

#include "api/DeviceAPIClient.h"
#include "config/ConfigStoring.h"
#include "credentials/CredentialStoring.h"
#include "discovery/ProviderReadiness.h"
#include "loginitem/HelperRegistrationService.h"
#include "model/BrowserSignIn.h"
#include "model/Clock.h"
#include "model/FolderChoosing.h"
#include "model/NetworkMonitoring.h"
#include "onboarding/OnboardingStateMachine.h"
#include "onboarding/ReadyStatus.h"
#include "pairing/PairingRequest.h"
#include "recovery/HelperRecoveryPolicy.h"
#include "status/HelperStatus.h"

#include <QCoroTask>
#include <QObject>
#include <QPointer>
#include <QThreadPool>
#include <QTimer>
#include <QUrl>
#include <QUuid>
#include <QVariant>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>




// Everything the model works with, handed in by the program (the system's own) or by a test.
struct AppModelParts
{
    std::unique_ptr<ConfigStoring> configStore;
    std::unique_ptr<CredentialStoring> credentialStore;
    std::unique_ptr<DeviceAPIClient> api;
    // A fresh manager of the helper's login item for every check.
    std::function<std::shared_ptr<LoginItemManaging>()> loginItem;
    std::unique_ptr<BrowserSignIn> signIn;
    // Runs off the main thread; blocks while the outside programs run.
    std::function<ProviderReadiness()> discoverProviders;
    std::unique_ptr<FolderChoosing> folderChooser;
    std::unique_ptr<NetworkMonitoring> networkMonitor;
    std::unique_ptr<Clock> clock;
    // The computer's name as the service should show it.
    std::function<QString()> deviceName;
    QString statusPath;
    QUrl baseURL;
    QString appVersion;
    QString appBuild;
    std::chrono::milliseconds statusInterval = std::chrono::seconds(3);
    std::chrono::milliseconds recoveryDelay = std::chrono::seconds(3);
};

// The setup window's model: the setup step and what the window shows, restored at start-up from the
// configuration file and the stored credential, kept current by reading the helper's status every few
// seconds and by watching the network. All state lives on the main thread; the waiting parts are
// coroutines that hold the model weakly and stop quietly when it is gone.
class AppModel : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QString step READ stepName NOTIFY machineChanged)
    // Absent (null) until a check ran or a configuration was restored; else a map with codexReady,
    // claudeCodeReady, hasProvider and messages.
    Q_PROPERTY(QVariant providerReadiness READ providerReadinessValue NOTIFY providerReadinessChanged)
    Q_PROPERTY(QList<QUrl> selectedFolders READ selectedFolders NOTIFY selectedFoldersChanged)
    // Null, or a map with state, lastHeartbeat and error.
    Q_PROPERTY(QVariant helperStatus READ helperStatusValue NOTIFY helperStatusChanged)
    Q_PROPERTY(QVariant errorMessage READ errorMessageValue NOTIFY errorMessageChanged)
    Q_PROPERTY(QString recoveryAction READ recoveryActionName NOTIFY recoveryActionChanged)
    Q_PROPERTY(QVariant networkAvailable READ networkAvailableValue NOTIFY networkAvailableChanged)
    Q_PROPERTY(bool busy READ busy NOTIFY busyChanged)
    // The stored credential is being read at start-up (the keyring may be asking to be unlocked); the
    // step is not known yet.
    Q_PROPERTY(bool restoring READ restoring NOTIFY restoringChanged)

    // Presentation of the fields above, for the window.
    Q_PROPERTY(QString readyStatus READ readyStatusName NOTIFY readyStatusChanged)
    Q_PROPERTY(QVariantList folderRows READ folderRows NOTIFY selectedFoldersChanged)
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
    explicit AppModel(AppModelParts parts, QObject *parent = nullptr);
    ~AppModel() override;

    const OnboardingStateMachine &machine() const { return m_machine; }
    const std::optional<ProviderReadiness> &providerReadiness() const { return m_providerReadiness; }
    const QList<QUrl> &selectedFolders() const { return m_selectedFolders; }
    const std::optional<HelperStatus> &helperStatus() const { return m_helperStatus; }
    const std::optional<QString> &errorMessage() const { return m_errorMessage; }
    HelperRecoveryAction recoveryAction() const { return m_recoveryAction; }
    std::optional<bool> networkAvailable() const { return m_networkAvailable; }
    bool busy() const { return m_busy; }
    bool restoring() const { return m_restoring; }
    QString signInLink() const { return m_signInLink.toString(QUrl::FullyEncoded); }
    bool browserUnavailable() const { return m_browserUnavailable; }
    bool choosingFolders() const { return m_choosingFolders; }
    // A browser sign-in is open and waits for its callback.
    bool signInOpen() const;
    const std::optional<QUuid> &deviceId() const { return m_deviceId; }
    ReadyStatus readyStatus() const { return m_readyStatus; }
    const QString &appVersion() const { return m_appVersion; }
    const QString &appBuild() const { return m_appBuild; }

    // Starts pairing: opens the connection page in the browser. Without an identifier the one known
    // from an earlier setup is offered to the service.
    void connectDevice(std::optional<QUuid> existingDeviceId);
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
    void readStatus();
    // Checks the helper's login item and status now and once more after the grace period; a newer call
    // replaces a pending second check.
    void ensureHelperLifecycle();

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
    QString stepName() const;
    QVariant providerReadinessValue() const;
    QVariant helperStatusValue() const;
    QVariant errorMessageValue() const;
    QString recoveryActionName() const;
    QVariant networkAvailableValue() const;
    QString readyStatusName() const;
    QVariantList folderRows() const;
    QString folderSummary() const;

    void setStep(OnboardingStep step);
    void setMachine(const OnboardingStateMachine &machine);
    void setProviderReadiness(std::optional<ProviderReadiness> readiness);
    void setSelectedFolders(QList<QUrl> folders);
    void setHelperStatus(std::optional<HelperStatus> status);
    void setErrorMessage(std::optional<QString> message);
    void setRecoveryAction(HelperRecoveryAction action);
    void setNetworkAvailable(bool available);
    void setBusy(bool busy);
    void setRestoring(bool restoring);
    void setSignInLink(const QUrl &link);
    void setBrowserUnavailable(bool unavailable);
    void setChoosingFolders(bool choosing);
    // Counts what the user asks for, so that the late answer of a keyring call can tell whether the
    // user has acted since it was asked; such an answer never undoes what the user did.
    void userActed() { ++m_userActions; }
    template<typename Operation>
    auto onKeyring(Operation operation);
    void refreshReadyStatus();
    void needsAttention(const QString &message);

    void restoreEarlierSetup();
    static QCoro::Task<> restoreWithStoredCredential(QPointer<AppModel> self, std::optional<AppConfig> config);
    Result<void> restoreFromStores(const std::optional<AppConfig> &config, const std::optional<QString> &credential);
    void restoreFromConfig(const AppConfig &config);

    static QCoro::Task<> resumeFinishedSetup(QPointer<AppModel> self, QString credential);
    static QCoro::Task<> resumePairedSetup(QPointer<AppModel> self, QString credential);
    // Answers whether the service's answer still applied (the model lives and setup has not moved on).
    static QCoro::Task<bool> validateConnection(QPointer<AppModel> self, QString credential);
    static QCoro::Task<> completeSignIn(QPointer<AppModel> self, PairingRequest request, Result<QUrl> outcome);
    static QCoro::Task<> runProviderCheck(QPointer<AppModel> self);
    static QCoro::Task<> chooseFoldersTask(QPointer<AppModel> self);
    static QCoro::Task<> changeFoldersTask(QPointer<AppModel> self);
    static QCoro::Task<> logOutTask(QPointer<AppModel> self);

    static QCoro::Task<Result<void>> pairedWith(QPointer<AppModel> self, const DeviceExchange &exchange);
    Result<bool> restoreExistingSetup(const QUuid &id);
    Result<void> saveFinishedSetup();
    Result<void> saveChangedFolders();
    Result<void> registerHelper();
    void checkHelperAfterGracePeriod();
    bool handleRecovery(HelperRecoveryAction action, HelperRegistrationService &service);
    void reconnectAccount();
    static QCoro::Task<> signInAgainWithStoredDevice(QPointer<AppModel> self);
    QStringList selectedFolderPaths() const;
    HelperRegistrationService registrationService() const;

    AppModelParts m_parts;

    OnboardingStateMachine m_machine;
    std::optional<ProviderReadiness> m_providerReadiness;
    QList<QUrl> m_selectedFolders;
    std::optional<HelperStatus> m_helperStatus;
    std::optional<QString> m_errorMessage;
    HelperRecoveryAction m_recoveryAction = HelperRecoveryAction::none;
    std::optional<Error> m_statusReadFailure;
    std::optional<bool> m_networkAvailable;
    bool m_busy = false;
    bool m_restoring = false;
    QUrl m_signInLink;
    bool m_browserUnavailable = false;
    bool m_choosingFolders = false;
    quint64 m_userActions = 0;
    ReadyStatus m_readyStatus = ReadyStatus::checkingConnection;

    QString m_appVersion;
    QString m_appBuild;
    std::optional<QUuid> m_deviceId;
    // Counts new sign-ins and log-outs: a start-up confirmation begun in an earlier round is stale.
    quint64 m_setupRound = 0;
    QTimer m_statusTimer;
    QTimer m_recoveryTimer;
    // One keyring operation at a time, in the order asked, off the main thread. Declared last so that it
    // waits for a running operation before the store it uses goes.
    QThreadPool m_keyring;
};
