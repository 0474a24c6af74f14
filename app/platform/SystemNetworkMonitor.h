#pragma once

#include "model/NetworkMonitoring.h"

#include <QTimer>

#include <optional>

// Reachability from QNetworkInformation when one of its backends loads and knows the answer;
// otherwise from the kernel's route table, looked at every two seconds.
class SystemNetworkMonitor final : public NetworkMonitoring
{
    Q_OBJECT
public:
    explicit SystemNetworkMonitor(QObject *parent = nullptr);
    void start() override;

private:
    void useBackend();
    void pollRoutes();
    void report(bool satisfied);

    QTimer m_routePoll;
    std::optional<bool> m_lastReport;
    bool m_backendKnows = false;
};
