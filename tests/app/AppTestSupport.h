#pragma once

#include "LocalServiceProcess.h"
#include "model/AppModel.h"

#include "config/FileConfigStore.h"
#include "credentials/SystemCredentialStore.h"
#include "loginitem/LoginItemManaging.h"

#include <QNetworkAccessManager>

#include <memory>
#include <optional>

// The browser: by default asks the connection page and hands back the tarnwick: URL the service redirects
// to; can also fail to open or stay open (the user is still signing in).
class FakeSignIn final : public BrowserSignIn
{
public:
    enum class Behaviour { followRedirect, stayOpen, cannotOpen };
    bool start(const QUrl &page, const QString &callbackScheme, Completion completion) override;
    void cancel() override;
    bool isOpen() const override { return bool(m_completion); }
    void finish(Result<QUrl> outcome) { std::exchange(m_completion, nullptr)(std::move(outcome)); }

    Behaviour behaviour = Behaviour::followRedirect;
    QList<QUrl> openedPages;
    QString lastScheme;

private:
    Completion m_completion;
    QNetworkAccessManager m_network;
};

// The login item with the platform's rules (register only from notRegistered), one record shared by every
// manager the model asks for.
class FakeLoginItem final : public LoginItemManaging
{
public:
    LoginItemState state() const override { return currentState; }
    Result<void> registerItem() override;
    Result<void> unregisterItem() override;

    LoginItemState currentState = LoginItemState::notRegistered;
    QStringList calls;
    std::optional<Error> registerFailure;
};

class FakeFolderChooser final : public FolderChoosing
{
public:
    QCoro::Task<std::optional<QList<QUrl>>> chooseFolders(const QString &title, const QString &acceptLabel) override;
    std::optional<QList<QUrl>> answer; // nothing: the user cancels
    QStringList lastTexts;
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
    std::shared_ptr<FakeLoginItem> loginItem;
    std::shared_ptr<int> discoveries;
};

inline const ProviderReadiness codexOnly{ProviderPaths{QStringLiteral("/usr/local/bin/codex"), std::nullopt},
                                         true, false, {QStringLiteral("Codex is installed and signed in.")}};

// Parts over the real stores of the isolated home and the service at `baseURL`, with fakes at the platform
// seams. Timers run ten times faster than in the program.
AppModelParts testParts(const QUrl &baseURL, Seams &seams, ProviderReadiness discovered = codexOnly);

// A well-formed credential naming `deviceId` that the service never issued.
QString madeUpCredential(const QUuid &deviceId);
void writeHelperStatus(const HelperStatus &status);
inline SystemCredentialStore keychain() { return SystemCredentialStore(std::nullopt); }
FileConfigStore configFile();
// A finished setup for `deviceId`: two folders, a Codex path.
AppConfig resumableConfig(const QUuid &deviceId, const QString &apiUrl = QStringLiteral("https://old.example/"));
// Pairs a device with the service as browser and model would and keeps its credential in the keychain;
// null when pairing failed.
QUuid pairedDevice(const QUrl &baseURL);
// Waits (without polling) until the model says a piece of work ended.
bool waitForOperation(AppModel &model, int timeoutMs = 10000);
