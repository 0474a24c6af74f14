// The service's answers: no body may crash a decoder, and what decodes survives encoding unchanged.
#include "api/DeviceExchange.h"
#include "api/DeviceTaskActivity.h"
#include "api/JsonFields.h"

#include <QJsonDocument>

template<typename T>
static void checkRoundTrip(const QByteArray &body)
{
    const Result<T> decoded = JsonFields::decode<T>(body);
    if (!decoded)
        return;
    const Result<T> again = JsonFields::decode<T>(QJsonDocument(decoded->toJson()).toJson(QJsonDocument::Compact));
    if (!again || *again != *decoded)
        __builtin_trap();
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray body(reinterpret_cast<const char *>(data), qsizetype(size));
    checkRoundTrip<Device>(body);
    checkRoundTrip<DeviceExchange>(body);
    checkRoundTrip<DeviceTaskActivity>(body);
    return 0;
}
