#pragma once

#include <QString>
#include <QStringView>
#include <QUuid>

#include <optional>

// The device credential token is "twk_device_" + the device's UUID + "." + a 43-character secret of letters,
// numbers, "_" and "-". The token is otherwise opaque.
namespace DeviceCredentialParser {

// The device identifier inside a well-formed token; nullopt for anything else. Nothing is trimmed.
std::optional<QUuid> deviceId(const QString &token);

// The run of secret characters at the start of a text, as the parser reads a secret: user-perceived
// characters (grapheme clusters) whose first code point is a letter or number of any script, "_" or "-",
// whatever joiners, marks, variation selectors or modifiers the cluster carries after it. The status
// redactor reads tokens the same way, so that every token accepted here is also removed there.
struct SecretRun
{
    qsizetype characters = 0; // user-perceived characters
    qsizetype length = 0;     // UTF-16 code units
};
SecretRun secretRun(QStringView text);

}
