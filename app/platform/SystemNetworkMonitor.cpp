#include "SystemNetworkMonitor.h"

#include "DesktopLog.h"
#include "RouteTable.h"

#include <QNetworkInformation>

namespace {

constexpr auto routePollInterval = std::chrono::seconds(2);

std::optional<bool> satisfied(QNetworkInformation::Reachability reachability)
{
    switch (reachability) {
    case QNetworkInformation::Reachability::Unknown: return std::nullopt;
    case QNetworkInformation::Reachability::Online: return true;
    case QNetworkInformation::Reachability::Disconnected:
    case QNetworkInformation::Reachability::Local:
    case QNetworkInformation::Reachability::Site: return false;
    }
    return std::nullopt;
}

} // namespace

SystemNetworkMonitor::SystemNetworkMonitor(QObject *parent)
    : NetworkMonitoring(parent)
{
    m_routePoll.setInterval(routePollInterval);
    connect(&m_routePoll, &QTimer::timeout, this, &SystemNetworkMonitor::pollRoutes);
}

void SystemNetworkMonitor::start()
{
    if (QNetworkInformation::loadBackendByFeatures(QNetworkInformation::Feature::Reachability))
        useBackend();
    if (!m_backendKnows) {
        qCInfo(lcDesktop) << "No network state from Qt; watching the kernel's routes";
        // The first report comes from the route table straight after start, queued so that the
        // caller has connected to us first.
        QMetaObject::invokeMethod(this, &SystemNetworkMonitor::pollRoutes, Qt::QueuedConnection);
        m_routePoll.start();
    }
}

void SystemNetworkMonitor::useBackend()
{
    QNetworkInformation *information = QNetworkInformation::instance();
    connect(information, &QNetworkInformation::reachabilityChanged, this,
            [this](QNetworkInformation::Reachability reachability) {
                const std::optional<bool> answer = satisfied(reachability);
                if (!answer)
                    return;
                m_backendKnows = true;
                m_routePoll.stop();
                report(*answer);
            });
    const std::optional<bool> answer = satisfied(information->reachability());
    if (!answer)
        return;
    m_backendKnows = true;
    QMetaObject::invokeMethod(
        this, [this, value = *answer] { report(value); }, Qt::QueuedConnection);
}

void SystemNetworkMonitor::pollRoutes()
{
    report(RouteTable::hasUsableDefaultRoute());
}

void SystemNetworkMonitor::report(bool isSatisfied)
{
    if (m_lastReport == isSatisfied)
        return;
    m_lastReport = isSatisfied;
    qCInfo(lcDesktop) << (isSatisfied ? "The network is reachable" : "The network is not reachable");
    Q_EMIT reachabilityChanged(isSatisfied);
}
