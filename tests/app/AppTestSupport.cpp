#include "AppTestSupport.h"

#include "config/AppPaths.h"
#include "model/SignInError.h"
#include "pairing/PairingSecurity.h"
#include "status/StatusStore.h"

#include <QCoroTimer>
#include <QNetworkReply>
#include <QSignalSpy>
#include <QTest>
#include <QThread>

using namespace Qt::StringLiterals;

namespace {

// The tarnwick: link the service's connection page redirects to.
QUrl followConnectionPage(QNetworkAccessManager &network, const QUrl &page)
{
    QNetworkRequest request(page);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    std::unique_ptr<QNetworkReply> reply(network.get(request));
    QSignalSpy(reply.get(), &QNetworkReply::finished).wait(5000);
    return reply->header(QNetworkRequest::LocationHeader).toUrl();
}

} // namespace

bool FakeSignIn::start(const QUrl &page, const QString &callbackScheme, Completion completion)
{
    openedPages.append(page);
    lastScheme = callbackScheme;
    m_completion = nullptr;
    if (behaviour == Behaviour::cannotOpen)
        return false;
    m_completion = std::move(completion);
    if (behaviour == Behaviour::followRedirect) {
        QNetworkRequest request(page);
        request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
        QNetworkReply *reply = m_network.get(request);
        QObject::connect(reply, &QNetworkReply::finished, reply, [this, reply] {
            reply->deleteLater();
            if (m_completion)
                finish(reply->header(QNetworkRequest::LocationHeader).toUrl());
        });
    }
    return true;
}

void FakeSignIn::cancel()
{
    if (m_completion)
        finish(failure(SignInError::canceledLogin()));
}

Result<void> FakeLoginItem::registerItem()
{
    calls.append(u"register"_s);
    if (currentState != LoginItemState::notRegistered)
        return {};
    if (registerFailure)
        return failure(*registerFailure);
    currentState = LoginItemState::enabled;
    return {};
}

Result<void> FakeLoginItem::unregisterItem()
{
    calls.append(u"unregister"_s);
    currentState = LoginItemState::notRegistered;
    return {};
}

QCoro::Task<std::optional<QList<QUrl>>> FakeFolderChooser::chooseFolders(const QString &title, const QString &acceptLabel)
{
    ++calls;
    lastTexts = {title, acceptLabel};
    // A real chooser answers later, after the event loop has run.
    co_await QCoro::sleepFor(std::chrono::milliseconds(1));
    co_return answer;
}

AppModelParts testParts(const QUrl &baseURL, Seams &seams, ProviderReadiness discovered)
{
    seams = Seams{};
    seams.loginItem = std::make_shared<FakeLoginItem>();
    seams.discoveries = std::make_shared<int>(0);
    AppModelParts parts;
    parts.configStore = std::make_unique<FileConfigStore>(AppPaths::config());
    parts.credentialStore = std::make_unique<SystemCredentialStore>(std::nullopt);
    parts.api = std::make_unique<DeviceAPIClient>(baseURL);
    parts.loginItem = [item = seams.loginItem] { return item; };
    parts.signIn = std::unique_ptr<FakeSignIn>(seams.signIn = new FakeSignIn);
    parts.discoverProviders = [discovered, count = seams.discoveries] {
        QThread::msleep(50); // discovery blocks while the agents answer
        ++*count;
        return discovered;
    };
    parts.folderChooser = std::unique_ptr<FakeFolderChooser>(seams.chooser = new FakeFolderChooser);
    parts.networkMonitor = std::unique_ptr<FakeNetworkMonitor>(seams.network = new FakeNetworkMonitor);
    parts.clock = std::unique_ptr<ManualClock>(seams.clock = new ManualClock);
    parts.deviceName = [] { return u"Studio Mac"_s; };
    parts.statusPath = AppPaths::status();
    parts.baseURL = baseURL;
    parts.appVersion = u"0.3.0"_s;
    parts.appBuild = u"10"_s;
    parts.statusInterval = std::chrono::milliseconds(300);
    parts.recoveryDelay = std::chrono::milliseconds(300);
    return parts;
}

QString madeUpCredential(const QUuid &deviceId)
{
    return u"twk_device_"_s + deviceId.toString(QUuid::WithoutBraces).toUpper() + QLatin1Char('.')
           + QString(43, QLatin1Char('a'));
}

void writeHelperStatus(const HelperStatus &status)
{
    QVERIFY(StatusStore(AppPaths::status()).save(status).has_value());
}

bool waitForOperation(AppModel &model, int timeoutMs)
{
    return QSignalSpy(&model, &AppModel::operationFinished).wait(timeoutMs);
}

FileConfigStore configFile()
{
    return FileConfigStore(AppPaths::config());
}

AppConfig resumableConfig(const QUuid &deviceId, const QString &apiUrl)
{
    return AppConfig{apiUrl,
                     deviceId,
                     u"0.2.0"_s,
                     {u"/home/user/work"_s, u"/home/user/site"_s},
                     u"/home/user/work"_s,
                     ProviderPaths{u"/usr/local/bin/codex"_s, std::nullopt}};
}

QUuid pairedDevice(const QUrl &baseURL)
{
    const Result<PairingRequest> request = PairingSecurity::makeRequest();
    const QUrl page = *PairingSecurity::connectionURL(baseURL, *request, u"Bench"_s,
                                                      u"0.3.0"_s, u"10"_s, std::nullopt);
    QNetworkAccessManager network;
    const auto code = PairingSecurity::validateCallback(followConnectionPage(network, page), request->state);
    const Result<DeviceExchange> exchange =
        QCoro::waitFor(DeviceAPIClient(baseURL).exchange(code.value_or(QString()), request->verifier));
    if (!exchange || !keychain().save(exchange->credential))
        return {};
    return exchange->device.id;
}
