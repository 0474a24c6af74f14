#pragma once

#include "model/AppModel.h"

#include "config/FileConfigStore.h"
#include "credentials/SystemCredentialStore.h"
#include "loginitem/LoginItemManaging.h"

#include <QNetworkAccessManager>
#include <QProcess>
#include <QUrl>

#include <memory>
#include <optional>

// The local service of tools/, started on a free loopback port for one test.
class LocalService
{
public:
    explicit LocalService(QStringList extraArguments = {QStringLiteral("--approve-immediately")});
    ~LocalService();

    QUrl baseURL() const { return m_baseURL; }
    bool isRunning() const { return m_baseURL.isValid(); }
    void stop();

private:
    QProcess m_process;
    QUrl m_baseURL;
};

// The browser: asks the connection page as a browser would and hands back the tarnwick: URL the service
// redirects to. Can also be told to fail to open, to stay open (the user is still signing in) or to
// answer something of its own.
class FakeSignIn final : public BrowserSignIn
{
public:
    enum class Behaviour { followRedirect, stayOpen, cannotOpen };

    bool start(const QUrl &page, const QString &callbackScheme, Completion completion) override;
    void cancel() override;
    bool isOpen() const override { return bool(m_completion); }

    // Finishes the open sign-in with this outcome.
    void finish(Result<QUrl> outcome);

    Behaviour behaviour = Behaviour::followRedirect;
    QList<QUrl> openedPages;
    QString lastScheme;

private:
    Completion m_completion;
    QNetworkAccessManager m_network;
};

// The login item as the desktop would keep it, with the platform implementation's rules (register only
// from notRegistered, unregister only when registered), shared by every manager the model makes.
struct LoginItemRecord
{
    LoginItemState state = LoginItemState::notRegistered;
    QStringList calls;
    std::optional<Error> registerFailure;
    std::optional<Error> unregisterFailure;
};

class FakeLoginItemManager final : public LoginItemManaging
{
public:
    explicit FakeLoginItemManager(std::shared_ptr<LoginItemRecord> record) : m_record(std::move(record)) {}
    LoginItemState state() const override { return m_record->state; }
    Result<void> registerItem() override;
    Result<void> unregisterItem() override;

private:
    std::shared_ptr<LoginItemRecord> m_record;
};

class FakeFolderChooser final : public FolderChoosing
{
public:
    QCoro::Task<std::optional<QList<QUrl>>> chooseFolders(const QString &title, const QString &acceptLabel) override;

    // Nothing means the user cancels.
    std::optional<QList<QUrl>> answer;
    QString lastTitle;
    QString lastAcceptLabel;
    int calls = 0;
};

class FakeNetworkMonitor final : public NetworkMonitoring
{
    Q_OBJECT
public:
    void start() override { started = true; }
    void report(bool satisfied) { Q_EMIT reachabilityChanged(satisfied); }
    bool started = false;
};

class ManualClock final : public Clock
{
public:
    QDateTime now() const override { return current; }
    QDateTime current = QDateTime(QDate(2026, 3, 2), QTime(9, 15), Qt::UTC);
};

// The fakes a test keeps hold of after handing the parts to a model.
struct Seams
{
    FakeSignIn *signIn = nullptr;
    FakeFolderChooser *chooser = nullptr;
    FakeNetworkMonitor *network = nullptr;
    ManualClock *clock = nullptr;
    std::shared_ptr<LoginItemRecord> loginItem;
    std::shared_ptr<int> discoveries;
};

inline const ProviderReadiness codexOnly{ProviderPaths{QStringLiteral("/usr/local/bin/codex"), std::nullopt},
                                         true, false, {QStringLiteral("Codex is installed and signed in.")}};

// Parts over the real stores of the isolated home (config file, status file, keychain) and the service at
// `baseURL`, with fakes at the platform seams. Timers run ten times faster than in the program.
AppModelParts testParts(const QUrl &baseURL, Seams &seams, ProviderReadiness discovered = codexOnly);

// A credential token naming `deviceId` with a well-formed secret the service never issued.
QString madeUpCredential(const QUuid &deviceId);

// Writes the helper's status file as the helper would.
void writeHelperStatus(const HelperStatus &status);

SystemCredentialStore keychain();
FileConfigStore configFile();

// A finished setup for `deviceId`: two folders, a Codex path.
AppConfig resumableConfig(const QUuid &deviceId, const QString &apiUrl = QStringLiteral("https://old.example/"));

// Pairs a device with the service as the browser and the model would, and keeps its credential in the
// keychain. Answers the device's identifier (null when pairing failed).
QUuid pairedDevice(const QUrl &baseURL);

// Waits (without polling) until the model says a piece of work ended.
bool waitForOperation(AppModel &model, int timeoutMs = 10000);
