#pragma once

#include "ConnectionRequest.h"
#include "RegisteredDevice.h"

#include <QByteArray>
#include <QDateTime>
#include <QHash>
#include <QList>
#include <QString>
#include <QUuid>

#include <optional>

// The device half of the service's memory: the paired Macs and the one credential each of them holds.
// Credentials are kept only as fingerprints.
class DeviceRegistry
{
public:
    struct Enrolment
    {
        QString credential;
        RegisteredDevice device;
    };

    // Pairs the Mac of an approved request: a new device, or the one it names as its existing device, whose
    // earlier credential is then given up. The credential is "twk_device_", the device's upper-case
    // identifier, "." and a 43-character secret.
    Enrolment enroll(const ConnectionRequest &request, const QDateTime &now);

    // The device a bearer credential belongs to, marked as seen now; absent for a credential that is
    // unknown or was given up.
    std::optional<RegisteredDevice> authenticate(const QString &credential, const QDateTime &now);

    // Forgets the device and its credential.
    void disconnect(const QUuid &deviceId);

    // In the order they were first paired.
    const QList<RegisteredDevice> &devices() const;

private:
    RegisteredDevice *find(const QUuid &deviceId);
    void revokeCredentialsOf(const QUuid &deviceId);

    QList<RegisteredDevice> m_devices;
    QHash<QByteArray, QUuid> m_credentials;
};
