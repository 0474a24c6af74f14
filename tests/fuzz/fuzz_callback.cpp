// Any program of the user can hand the application a tarnwick: URL; none may crash or hang the check, and
// an accepted one always yields a well-formed code.
#include "pairing/PairingSecurity.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const QString expectedState = QStringLiteral("Zm9vYmFyYmF6cXV4cXV1eHF1dXhxdXV4cXV1eHF1dXg");
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    for (const QUrl &url : {QUrl(QString::fromUtf8(bytes)), QUrl::fromEncoded(bytes)}) {
        const auto code = PairingSecurity::validateCallback(url, expectedState);
        if (code && code->size() != 43)
            __builtin_trap();
    }
    return 0;
}
