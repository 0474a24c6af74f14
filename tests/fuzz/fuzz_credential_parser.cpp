// The stored credential is read back from the keyring, where any program of the user can change it.
#include "credentials/DeviceCredentialParser.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString token = QString::fromUtf8(reinterpret_cast<const char *>(data), qsizetype(size));
    const std::optional<QUuid> id = DeviceCredentialParser::deviceId(token);
    const QString prefix = QStringLiteral("twk_device_");
    if (id && !token.startsWith(prefix + id->toString(QUuid::WithoutBraces), Qt::CaseInsensitive))
        __builtin_trap();
    return 0;
}
