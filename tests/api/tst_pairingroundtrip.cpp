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

// One whole sign-in, from the connection page through the callback to the exchange.
Result<DeviceExchange> pair(const DeviceAPIClient &client, const std::optional<QUuid> &existingDeviceId = {})
{
    const Result<PairingRequest> request = PairingSecurity::makeRequest();
    if (!request)
        return failure(request.error());
    const std::optional<QUrl> page = PairingSecurity::connectionURL(client.baseURL(), *request, deviceName,
                                                                    u"0.3.0"_s, u"10"_s, existingDeviceId);
    const auto code = PairingSecurity::validateCallback(run(openInBrowser(page.value_or(QUrl()))), request->state);
    if (!code)
        return failure(toError(code.error()));
    return run(client.exchange(*code, request->verifier));
}

}

class TestPairingRoundTrip : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<LocalServiceProcess> m_service;

private Q_SLOTS:
    void initTestCase()
    {
        m_service = std::make_unique<LocalServiceProcess>(QStringList{u"--approve-immediately"_s});
        QVERIFY2(m_service->start(), m_service->errors().constData());
    }

    void pairsUsesReconnectsAndDisconnects()
    {
        const DeviceAPIClient client(m_service->baseUrl());
        const Result<DeviceExchange> exchange = pair(client);
        QVERIFY2(exchange, exchange ? "" : qPrintable(exchange.error().description));
        QCOMPARE(DeviceCredentialParser::deviceId(exchange->credential), exchange->device.id);
        QCOMPARE(exchange->device.name, deviceName);

        const SystemCredentialStore store(SystemCredentialStore::sharedAccessGroup());
        QVERIFY(PairingCredentialPersister(store).persist(*exchange).has_value());
        QCOMPARE(store.read(), Result<std::optional<QString>>(exchange->credential));

        const Result<Device> device = run(client.currentDevice(exchange->credential));
        QVERIFY(device.has_value());
        QCOMPARE(device->id, exchange->device.id);
        const Result<DeviceTaskActivity> activity = run(client.activity(exchange->credential, 5));
        QVERIFY(activity.has_value());
        QVERIFY(activity->running.has_value());
        QCOMPARE(activity->recent.size(), 5);

        // Signing in again as the same device keeps it, under a new credential.
        const Result<DeviceExchange> repaired = pair(client, exchange->device.id);
        QVERIFY(repaired.has_value());
        QCOMPARE(repaired->device.id, exchange->device.id);
        QVERIFY(repaired->credential != exchange->credential);

        QVERIFY(run(client.disconnect(repaired->credential)).has_value());
        const Result<Device> afterwards = run(client.currentDevice(repaired->credential));
        QVERIFY(!afterwards);
        QVERIFY(APIError::isUnauthorized(afterwards.error()));
        // A credential already given up still disconnects without complaint.
        QVERIFY(run(client.disconnect(repaired->credential)).has_value());
    }
};

QTEST_GUILESS_MAIN(TestPairingRoundTrip)
#include "tst_pairingroundtrip.moc"
