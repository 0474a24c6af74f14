#pragma once

#include <QObject>
#include <QVariantMap>

// Receives the Response signal of one portal request object.
class PortalResponse : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;

public Q_SLOTS:
    void receive(uint response, const QVariantMap &results) { Q_EMIT received(response, results); }

Q_SIGNALS:
    void received(uint response, const QVariantMap &results);
};
