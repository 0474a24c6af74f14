#include "DeviceRegistry.h"

#include "SecretTokens.h"
#include "WireText.h"

#include <algorithm>

namespace {
constexpr int secretByteCount = 32;
}

DeviceRegistry::Enrolment DeviceRegistry::enroll(const ConnectionRequest &request, const QDateTime &now)
{
    const QUuid id = request.existingDeviceId.value_or(QUuid::createUuid());
    const RegisteredDevice device{id, request.deviceName, request.platform, request.architecture, request.appVersion,
                                  now};
    if (RegisteredDevice *known = find(id)) {
        *known = device;
        revokeCredentialsOf(id);
    } else {
        m_devices.append(device);
    }
    const QString credential =
        QStringLiteral("twk_device_") + WireText::uuid(id) + u'.' + SecretTokens::random(secretByteCount);
    m_credentials.insert(SecretTokens::fingerprint(credential), id);
    return Enrolment{credential, device};
}

std::optional<RegisteredDevice> DeviceRegistry::authenticate(const QString &credential, const QDateTime &now)
{
    const auto owner = m_credentials.constFind(SecretTokens::fingerprint(credential));
    if (owner == m_credentials.cend())
        return std::nullopt;
    RegisteredDevice *device = find(*owner);
    if (!device)
        return std::nullopt;
    device->lastSeenAt = now;
    return *device;
}

void DeviceRegistry::disconnect(const QUuid &deviceId)
{
    revokeCredentialsOf(deviceId);
    m_devices.removeIf([&](const RegisteredDevice &device) { return device.id == deviceId; });
}

const QList<RegisteredDevice> &DeviceRegistry::devices() const
{
    return m_devices;
}

RegisteredDevice *DeviceRegistry::find(const QUuid &deviceId)
{
    const auto found = std::find_if(m_devices.begin(), m_devices.end(),
                                    [&](const RegisteredDevice &device) { return device.id == deviceId; });
    return found == m_devices.end() ? nullptr : &*found;
}

void DeviceRegistry::revokeCredentialsOf(const QUuid &deviceId)
{
    m_credentials.removeIf([&](const auto &entry) { return entry.value() == deviceId; });
}
