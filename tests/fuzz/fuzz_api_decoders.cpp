// The service's answers: no body may crash a decoder.
#include "api/DeviceExchange.h"
#include "api/DeviceTaskActivity.h"
#include "common/JsonObjectReader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray body(reinterpret_cast<const char *>(data), qsizetype(size));
    (void)JsonObjectReader::decode<Device>(body);
    (void)JsonObjectReader::decode<DeviceExchange>(body);
    (void)JsonObjectReader::decode<DeviceTaskActivity>(body);
    return 0;
}
