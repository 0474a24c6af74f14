// The stored credential is read back from the keyring, where any program of the user can change it.
// Whatever the parser accepts as a credential, the redactor must remove from any text around it.
#include "credentials/DeviceCredentialParser.h"
#include "status/StatusRedactor.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString token = QString::fromUtf8(reinterpret_cast<const char *>(data), qsizetype(size));
    const std::optional<QUuid> id = DeviceCredentialParser::deviceId(token);
    if (!id)
        return 0;
    if (!token.startsWith(QStringLiteral("twk_device_") + id->toString(QUuid::WithoutBraces), Qt::CaseInsensitive))
        __builtin_trap();
    // The redactor may take more than the token (a last letter that joins the next character), never less.
    const QString redacted = StatusRedactor::withoutSecrets(QStringLiteral("at ") + token + QStringLiteral(" end"));
    const QString marked = QStringLiteral("at [REDACTED]");
    if (!redacted.startsWith(marked) || !QStringLiteral(" end").endsWith(redacted.mid(marked.size())))
        __builtin_trap();
    return 0;
}
