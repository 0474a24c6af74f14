// How much the setup window's model costs while it sits on the ready screen: one status reading (the
// 3-second tick) and the repaint of a symbol. Prints figures; run by hand.
#include "model/AppModel.h"
#include "view/SymbolItem.h"

#include "config/AppPaths.h"
#include "status/StatusStore.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QTemporaryDir>

#include <cstdio>

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
    bool start(const QUrl &, const QString &, Completion) override { return false; }
    void cancel() override {}
    bool isOpen() const override { return false; }
};

class NoChooser final : public FolderChoosing
{
public:
    QCoro::Task<std::optional<QList<QUrl>>> chooseFolders(const QString &, const QString &) override { co_return std::nullopt; }
};

void report(const char *what, qint64 nanoseconds, int rounds)
{
    std::printf("%-38s %10.2f µs\n", what, double(nanoseconds) / rounds / 1000.0);
}

} // namespace

int main(int argc, char *argv[])
{
    QTemporaryDir home;
    qputenv("XDG_DATA_HOME", QFile::encodeName(home.path()));
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication application(argc, argv);

    (void)StatusStore(AppPaths::status()).save(HelperStatus(HelperStatus::State::connected, QDateTime::currentDateTimeUtc()));
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
    AppModel model(std::move(parts));

    constexpr int rounds = 5000;
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < rounds; ++i)
        model.readStatus();
    report("readStatus (one 3-second tick)", timer.nsecsElapsed(), rounds);

    SymbolItem symbol;
    symbol.setSize(QSizeF(18, 18));
    symbol.setName(QStringLiteral("checkmark.circle.fill"));
    QImage canvas(36, 36, QImage::Format_ARGB32_Premultiplied);
    timer.restart();
    for (int i = 0; i < rounds; ++i) {
        canvas.fill(Qt::transparent);
        QPainter painter(&canvas);
        symbol.paint(&painter);
    }
    report("symbol repaint at 18 x 18", timer.nsecsElapsed(), rounds);
    return 0;
}
