#include "LocalServiceProcess.h"

#include "api/APIError.h"
#include "api/DeviceAPIClient.h"
#include "api/PairingCredentialPersister.h"
#include "credentials/DeviceCredentialParser.h"
#include "credentials/SystemCredentialStore.h"
#include "pairing/PairingSecurity.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QTest>

#include <QCoroNetworkReply>
#include <QCoroTask>

using namespace Qt::StringLiterals;

namespace {

const QString deviceName = u"Ana’s Desk & Co #2 + more"_s;

template<typename T>
T run(QCoro::Task<T> task)
{
    return QCoro::waitFor(std::move(task));
}

// The browser's part: open the connection page and hand back where the service sends the browser.
QCoro::Task<QUrl> openInBrowser(QUrl page)
{
    QNetworkAccessManager browser;
    QNetworkRequest request(page);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    std::unique_ptr<QNetworkReply> reply(browser.get(request));
    co_await reply.get();
    co_return reply->attribute(QNetworkRequest::RedirectionTargetAttribute).toUrl();
}

// One whole sign-in up to the callback: the request of this attempt and the code the service sent back.
struct SignIn
{
    PairingRequest request;
    QString code;
};

std::optional<SignIn> signIn(const QUrl &base, const std::optional<QUuid> &existingDeviceId = std::nullopt)
{
    const Result<PairingRequest> request = PairingSecurity::makeRequest();
    if (!request)
        return std::nullopt;
    const std::optional<QUrl> page =
        PairingSecurity::connectionURL(base, *request, deviceName, u"0.3.0"_s, u"10"_s, existingDeviceId);
    if (!page)
        return std::nullopt;
    const QUrl callback = run(openInBrowser(*page));
    const auto code = PairingSecurity::validateCallback(callback, request->state);
    if (!code)
        return std::nullopt;
    return SignIn{*request, *code};
}

}

class TestPairingRoundTrip : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<LocalServiceProcess> m_service;

private Q_SLOTS:
    void init()
    {
        m_service = std::make_unique<LocalServiceProcess>(QStringList{u"--approve-immediately"_s});
        QVERIFY2(m_service->start(), m_service->errors().constData());
    }

    void cleanup()
    {
        m_service.reset();
    }

    void pairsUsesAndDisconnects()
    {
        const DeviceAPIClient client(m_service->baseUrl());
        const std::optional<SignIn> attempt = signIn(m_service->baseUrl());
        QVERIFY(attempt);

        const Result<DeviceExchange> exchange = run(client.exchange(attempt->code, attempt->request.verifier));
        QVERIFY2(exchange, exchange ? "" : qPrintable(exchange.error().description));
        QCOMPARE(DeviceCredentialParser::deviceId(exchange->credential), exchange->device.id);
        QCOMPARE(exchange->device.name, deviceName);

        const SystemCredentialStore store(SystemCredentialStore::sharedAccessGroup());
        QVERIFY(PairingCredentialPersister(store).persist(*exchange).has_value());
        const Result<std::optional<QString>> stored = store.read();
        QVERIFY(stored.has_value());
        QCOMPARE(stored->value_or(QString()), exchange->credential);

        const Result<Device> device = run(client.currentDevice(exchange->credential));
        QVERIFY(device.has_value());
        QCOMPARE(device->id, exchange->device.id);

        const Result<DeviceTaskActivity> activity = run(client.activity(exchange->credential, 5));
        QVERIFY(activity.has_value());
        QVERIFY(activity->running.has_value());
        QCOMPARE(activity->recent.size(), 5);

        QVERIFY(run(client.disconnect(exchange->credential)).has_value());
        const Result<Device> afterwards = run(client.currentDevice(exchange->credential));
        QVERIFY(!afterwards);
        QVERIFY(APIError::isUnauthorized(afterwards.error()));
        // A credential already given up still disconnects without complaint.
        QVERIFY(run(client.disconnect(exchange->credential)).has_value());
    }

    void wrongVerifierIsRefused()
    {
        const DeviceAPIClient client(m_service->baseUrl());
        const std::optional<SignIn> attempt = signIn(m_service->baseUrl());
        QVERIFY(attempt);
        const Result<PairingRequest> other = PairingSecurity::makeRequest();
        QVERIFY(other.has_value());

        const Result<DeviceExchange> exchange = run(client.exchange(attempt->code, other->verifier));
        QVERIFY(!exchange);
        QCOMPARE(exchange.error().domain, APIError::domain);
        QCOMPARE(exchange.error().code, 400);
        QVERIFY(exchange.error().description != u"The server rejected the request."_s);
    }

    void codeWorksOnce()
    {
        const DeviceAPIClient client(m_service->baseUrl());
        const std::optional<SignIn> attempt = signIn(m_service->baseUrl());
        QVERIFY(attempt);
        QVERIFY(run(client.exchange(attempt->code, attempt->request.verifier)).has_value());
        const Result<DeviceExchange> again = run(client.exchange(attempt->code, attempt->request.verifier));
        QVERIFY(!again);
        QCOMPARE(again.error().domain, APIError::domain);
    }

    void reconnectingKeepsTheDevice()
    {
        const DeviceAPIClient client(m_service->baseUrl());
        const std::optional<SignIn> first = signIn(m_service->baseUrl());
        QVERIFY(first);
        const Result<DeviceExchange> paired = run(client.exchange(first->code, first->request.verifier));
        QVERIFY(paired.has_value());

        const std::optional<SignIn> second = signIn(m_service->baseUrl(), paired->device.id);
        QVERIFY(second);
        const Result<DeviceExchange> repaired = run(client.exchange(second->code, second->request.verifier));
        QVERIFY(repaired.has_value());
        QCOMPARE(repaired->device.id, paired->device.id);
        QVERIFY(repaired->credential != paired->credential);
    }
};

QTEST_GUILESS_MAIN(TestPairingRoundTrip)
#include "tst_pairingroundtrip.moc"
