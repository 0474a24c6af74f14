#pragma once

#include <QObject>

// Watches whether this computer can reach the internet. After start() it reports once soon, then on
// every change, always on the thread that owns it.
class NetworkMonitoring : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;
    virtual void start() = 0;

Q_SIGNALS:
    void reachabilityChanged(bool satisfied);
};
