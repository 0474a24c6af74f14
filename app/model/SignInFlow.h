#pragma once

#include "api/DeviceExchange.h"
#include "common/Error.h"
#include "config/AppConfig.h"
#include "pairing/PairingRequest.h"

#include <QCoroTask>
#include <QObject>
#include <QPointer>
#include <QThreadPool>
#include <QUrl>
#include <QUuid>

#include <optional>

struct AppModelParts;
class CredentialStoring;
class HelperLifecycle;
class SetupState;

// This computer's account with the service: the setup restored at start-up and confirmed with the
// service, the browser sign-in that pairs it, the sign-in again after the service has rejected its
// credential, and log-out. The keyring is read and written off the main thread, one call at a time; the
// waiting parts are coroutines that hold the flow weakly and stop quietly when it is gone.
class SignInFlow : public QObject
{
    Q_OBJECT

public:
    SignInFlow(AppModelParts &parts, SetupState &state, HelperLifecycle &helper, QObject *parent = nullptr);

    // Restores the setup the stores hold; the stored credential is read in the background meanwhile.
    void restoreEarlierSetup();
    // Starts pairing: opens the connection page in the browser. Without an identifier the one known
    // from an earlier setup is offered to the service.
    void connectDevice(std::optional<QUuid> existingDeviceId);
    // Ends an open browser sign-in as if the user had cancelled it there.
    void cancelSignIn();
    void logOut();

    const std::optional<QUuid> &deviceId() const { return m_deviceId; }
    bool restoring() const { return m_restoring; }
    const QUrl &signInLink() const { return m_signInLink; }
    bool browserUnavailable() const { return m_browserUnavailable; }
    // A browser sign-in is open and waits for its callback.
    bool signInOpen() const;

Q_SIGNALS:
    void restoringChanged();
    void signInLinkChanged();
    void browserUnavailableChanged();
    // The configuration file's folders and coding agents, restored.
    void configRestored(const AppConfig &config);
    // Paired, with the coding agents still to be checked.
    void providerCheckDue();

private:
    template<typename Operation>
    auto onKeyring(Operation operation);
    void setRestoring(bool restoring);
    void setSignInLink(const QUrl &link);
    void setBrowserUnavailable(bool unavailable);

    static QCoro::Task<> restoreWithStoredCredential(QPointer<SignInFlow> self, std::optional<AppConfig> config);
    Result<void> restoreFromStores(const std::optional<AppConfig> &config, const std::optional<QString> &credential);
    static QCoro::Task<> resumeFinishedSetup(QPointer<SignInFlow> self, QString credential);
    static QCoro::Task<> resumePairedSetup(QPointer<SignInFlow> self, QString credential);
    // Answers whether the service's answer still applied (the flow lives and setup has not moved on).
    static QCoro::Task<bool> validateConnection(QPointer<SignInFlow> self, QString credential);
    void reconnectAccount();
    static QCoro::Task<> signInAgainWithStoredDevice(QPointer<SignInFlow> self);

    static QCoro::Task<> completeSignIn(QPointer<SignInFlow> self, PairingRequest request, Result<QUrl> outcome);
    static QCoro::Task<Result<void>> pairedWith(QPointer<SignInFlow> self, const DeviceExchange &exchange);
    Result<bool> restoreExistingSetup(const QUuid &id);
    static QCoro::Task<> logOutTask(QPointer<SignInFlow> self, bool checkWasPending);

    AppModelParts &m_parts;
    SetupState &m_state;
    HelperLifecycle &m_helper;
    std::optional<QUuid> m_deviceId;
    bool m_restoring = false;
    QUrl m_signInLink;
    bool m_browserUnavailable = false;
    // Counts new sign-ins and log-outs: a start-up confirmation begun in an earlier round is stale.
    quint64 m_setupRound = 0;
    // One keyring operation at a time, in the order asked, off the main thread. Declared last so that it
    // waits for a running operation before the store it uses goes.
    QThreadPool m_keyring;
};
