#include "AppTestSupport.h"

#include "api/DeviceAPIClient.h"
#include "config/AppPaths.h"
#include "config/FileConfigStore.h"
#include "credentials/SystemCredentialStore.h"
#include "model/SignInError.h"
#include "pairing/PairingSecurity.h"
#include "status/StatusStore.h"

#include <QCoroTimer>
#include <QNetworkReply>
#include <QSignalSpy>
#include <QTest>
#include <QThread>

LocalService::LocalService(QStringList extraArguments)
{
    m_process.setProcessChannelMode(QProcess::SeparateChannels);
    m_process.start(QStringLiteral(LOCAL_SERVICE_PATH), QStringList{QStringLiteral("--port"), QStringLiteral("0")} + extraArguments);
    if (!m_process.waitForStarted(5000))
        return;
    while (!m_process.canReadLine() && m_process.waitForReadyRead(5000)) {
    }
    const QString line = QString::fromUtf8(m_process.readLine()).trimmed();
    const qsizetype at = line.indexOf(QLatin1String("http://"));
    if (at >= 0)
        m_baseURL = QUrl(line.mid(at));
}

LocalService::~LocalService()
{
    stop();
}

void LocalService::stop()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.terminate();
    if (!m_process.waitForFinished(5000))
        m_process.kill();
    m_process.waitForFinished(5000);
}

bool FakeSignIn::start(const QUrl &page, const QString &callbackScheme, Completion completion)
{
    openedPages.append(page);
    lastScheme = callbackScheme;
    m_completion = nullptr;
    if (behaviour == Behaviour::cannotOpen)
        return false;
    m_completion = std::move(completion);
    if (behaviour == Behaviour::stayOpen)
        return true;

    QNetworkRequest request(page);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    QNetworkReply *reply = m_network.get(request);
    QObject::connect(reply, &QNetworkReply::finished, reply, [this, reply] {
        reply->deleteLater();
        const QUrl location = reply->header(QNetworkRequest::LocationHeader).toUrl();
        if (m_completion)
            finish(location);
    });
    return true;
}

void FakeSignIn::cancel()
{
    if (m_completion)
        finish(failure(SignInError::canceledLogin()));
}

void FakeSignIn::finish(Result<QUrl> outcome)
{
    Completion completion = std::exchange(m_completion, nullptr);
    completion(std::move(outcome));
}

Result<void> FakeLoginItemManager::registerItem()
{
    m_record->calls.append(QStringLiteral("register"));
    if (m_record->state != LoginItemState::notRegistered)
        return {};
    if (m_record->registerFailure)
        return failure(*m_record->registerFailure);
    m_record->state = LoginItemState::enabled;
    return {};
}

Result<void> FakeLoginItemManager::unregisterItem()
{
    m_record->calls.append(QStringLiteral("unregister"));
    if (m_record->state == LoginItemState::notRegistered)
        return {};
    if (m_record->unregisterFailure)
        return failure(*m_record->unregisterFailure);
    m_record->state = LoginItemState::notRegistered;
    return {};
}

QCoro::Task<std::optional<QList<QUrl>>> FakeFolderChooser::chooseFolders(const QString &title, const QString &acceptLabel)
{
    ++calls;
    lastTitle = title;
    lastAcceptLabel = acceptLabel;
    // A real chooser answers later, after the event loop has run.
    co_await QCoro::sleepFor(std::chrono::milliseconds(1));
    co_return answer;
}

AppModelParts testParts(const QUrl &baseURL, Seams &seams, ProviderReadiness discovered)
{
    AppModelParts parts;
    parts.configStore = std::make_unique<FileConfigStore>(AppPaths::config());
    parts.credentialStore = std::make_unique<SystemCredentialStore>(std::nullopt);
    parts.api = std::make_unique<DeviceAPIClient>(baseURL);
    seams.loginItem = std::make_shared<LoginItemRecord>();
    parts.loginItem = [record = seams.loginItem] { return std::make_shared<FakeLoginItemManager>(record); };
    auto signIn = std::make_unique<FakeSignIn>();
    seams.signIn = signIn.get();
    parts.signIn = std::move(signIn);
    seams.discoveries = std::make_shared<int>(0);
    parts.discoverProviders = [discovered, count = seams.discoveries] {
        // Discovery blocks while the agents answer.
        QThread::msleep(50);
        ++*count;
        return discovered;
    };
    auto chooser = std::make_unique<FakeFolderChooser>();
    seams.chooser = chooser.get();
    parts.folderChooser = std::move(chooser);
    auto network = std::make_unique<FakeNetworkMonitor>();
    seams.network = network.get();
    parts.networkMonitor = std::move(network);
    auto clock = std::make_unique<ManualClock>();
    seams.clock = clock.get();
    parts.clock = std::move(clock);
    parts.deviceName = [] { return QStringLiteral("Studio Mac"); };
    parts.statusPath = AppPaths::status();
    parts.baseURL = baseURL;
    parts.appVersion = QStringLiteral("0.3.0");
    parts.appBuild = QStringLiteral("10");
    parts.statusInterval = std::chrono::milliseconds(300);
    parts.recoveryDelay = std::chrono::milliseconds(300);
    return parts;
}

QString madeUpCredential(const QUuid &deviceId)
{
    return QStringLiteral("twk_device_") + deviceId.toString(QUuid::WithoutBraces).toUpper() + QLatin1Char('.')
           + QString(43, QLatin1Char('a'));
}

void writeHelperStatus(const HelperStatus &status)
{
    QVERIFY(StatusStore(AppPaths::status()).save(status).has_value());
}

bool waitForOperation(AppModel &model, int timeoutMs)
{
    QSignalSpy finished(&model, &AppModel::operationFinished);
    return finished.wait(timeoutMs);
}

SystemCredentialStore keychain()
{
    return SystemCredentialStore(std::nullopt);
}

FileConfigStore configFile()
{
    return FileConfigStore(AppPaths::config());
}

AppConfig resumableConfig(const QUuid &deviceId, const QString &apiUrl)
{
    return AppConfig{apiUrl,
                     deviceId,
                     QStringLiteral("0.2.0"),
                     {QStringLiteral("/home/user/work"), QStringLiteral("/home/user/site")},
                     QStringLiteral("/home/user/work"),
                     ProviderPaths{QStringLiteral("/usr/local/bin/codex"), std::nullopt}};
}

QUuid pairedDevice(const QUrl &baseURL)
{
    const Result<PairingRequest> request = PairingSecurity::makeRequest();
    const QUrl page = *PairingSecurity::connectionURL(baseURL, *request, QStringLiteral("Bench"),
                                                      QStringLiteral("0.3.0"), QStringLiteral("10"), std::nullopt);
    QNetworkAccessManager network;
    QNetworkRequest get(page);
    get.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    std::unique_ptr<QNetworkReply> reply(network.get(get));
    QSignalSpy finished(reply.get(), &QNetworkReply::finished);
    finished.wait(5000);
    const auto code = PairingSecurity::validateCallback(reply->header(QNetworkRequest::LocationHeader).toUrl(),
                                                        request->state);
    const Result<DeviceExchange> exchange =
        QCoro::waitFor(DeviceAPIClient(baseURL).exchange(code.value_or(QString()), request->verifier));
    if (!exchange || !keychain().save(exchange->credential))
        return {};
    return exchange->device.id;
}
