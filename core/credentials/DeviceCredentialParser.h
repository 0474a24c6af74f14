#pragma once

#include <QString>
#include <QUuid>

#include <optional>

// The device credential token is "twk_device_" + the device's UUID + "." + a 43-character secret of letters,
// numbers, "_" and "-". The token is otherwise opaque.
namespace DeviceCredentialParser {

// The device identifier inside a well-formed token; nullopt for anything else. Nothing is trimmed.
std::optional<QUuid> deviceId(const QString &token);

}
