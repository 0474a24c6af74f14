#pragma once

#include "ActivityFeed.h"
#include "DeviceRegistry.h"
#include "PairingLedger.h"
#include "Refusal.h"
#include "ServiceOptions.h"

#include <QDateTime>
#include <QHttpServer>
#include <QObject>

#include <expected>
#include <optional>

// The service on loopback: its routes over the pairing ledger, the device registry and the activity feed.
class LocalService : public QObject
{
    Q_OBJECT

public:
    LocalService(const ServiceOptions &options, ActivityFeed feed, QObject *parent = nullptr);

    // Listens on 127.0.0.1 only; answers the port, the one the system chose when asked for 0.
    std::expected<quint16, QString> listen(quint16 port);

private:
    void addRoutes();

    QHttpServerResponse connectionPage(const std::optional<QString> &build, const QHttpServerRequest &request);
    QHttpServerResponse approve(const QHttpServerRequest &request);
    QHttpServerResponse approved(const QString &connectionId, const QDateTime &now);
    QHttpServerResponse exchange(const QHttpServerRequest &request);
    QHttpServerResponse currentDevice(const QHttpServerRequest &request);
    QHttpServerResponse disconnect(const QHttpServerRequest &request);
    QHttpServerResponse activity(const QHttpServerRequest &request);
    QHttpServerResponse dashboard(const QHttpServerRequest &request);
    QHttpServerResponse missing(const QHttpServerRequest &request) const;

    Checked<RegisteredDevice> authenticate(const QHttpServerRequest &request, const QDateTime &now);

    QHttpServer m_server;
    PairingLedger m_ledger;
    DeviceRegistry m_registry;
    ActivityFeed m_feed;
    bool m_approveImmediately = false;
};
