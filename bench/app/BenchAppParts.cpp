#include "BenchAppParts.h"

#include "config/AppPaths.h"

namespace {

class MemoryConfigStore final : public ConfigStoring
{
public:
    Result<std::optional<AppConfig>> load() override { return config; }
    Result<void> save(const AppConfig &value) override
    {
        config = value;
        return {};
    }
    Result<void> remove() override
    {
        config.reset();
        return {};
    }
    std::optional<AppConfig> config;
};

class MemoryCredentialStore final : public CredentialStoring
{
public:
    Result<void> save(const QString &) const override { return {}; }
    Result<std::optional<QString>> read() const override { return std::optional<QString>(); }
    Result<void> remove() const override { return {}; }
};

class QuietNetwork final : public NetworkMonitoring
{
public:
    void start() override {}
};

class NoSignIn final : public BrowserSignIn
{
public:
    bool start(const QUrl &, const QString &, Completion, BrowserFailure) override { return false; }
    void cancel() override {}
    bool isOpen() const override { return false; }
};

class NoChooser final : public FolderChoosing
{
public:
    QCoro::Task<std::optional<QList<QUrl>>> chooseFolders(const QString &, const QString &) override { co_return std::nullopt; }
};

} // namespace

AppModelParts benchAppParts()
{
    AppModelParts parts;
    parts.configStore = std::make_unique<MemoryConfigStore>();
    parts.credentialStore = std::make_unique<MemoryCredentialStore>();
    parts.api = std::make_unique<DeviceAPIClient>(QUrl(QStringLiteral("http://127.0.0.1:9/")));
    parts.loginItem = [] { return std::shared_ptr<LoginItemManaging>(); };
    parts.signIn = std::make_unique<NoSignIn>();
    parts.discoverProviders = [] { return ProviderReadiness{}; };
    parts.folderChooser = std::make_unique<NoChooser>();
    parts.networkMonitor = std::make_unique<QuietNetwork>();
    parts.clock = std::make_unique<SystemClock>();
    parts.statusPath = AppPaths::status();
    parts.baseURL = QUrl(QStringLiteral("http://127.0.0.1:9/"));
    return parts;
}
