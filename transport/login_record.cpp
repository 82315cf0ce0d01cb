// The log-in record to a centre: built from its fixed fields, read back against them.
#include "transport/login_record.h"

#include <cstring>

#include "support/bytes.h"

namespace {

constexpr size_t PORT_AT = 10;
constexpr char REGION[] = "61294";
constexpr char STATION[] = "9081726354453627";
constexpr char KEY[] = "86420975";

}  // namespace

void LOGIN_Build(uint8_t (&record)[LOGIN_RECORD_SIZE], uint16_t centrePort)
{
    memset(record, 0, sizeof record);
    Bytes_PutBE32(record + 0, 1);
    Bytes_PutBE32(record + 4, 2);
    Bytes_PutBE16(record + 8, 3);
    Bytes_PutBE16(record + PORT_AT, centrePort);
    memcpy(record + 19, REGION, sizeof REGION - 1);
    memcpy(record + 24, STATION, sizeof STATION - 1);
    memcpy(record + 42, REGION, sizeof REGION - 1);
    memcpy(record + 47, STATION, sizeof STATION - 1);
    memcpy(record + 63, KEY, sizeof KEY - 1);
}

bool LOGIN_Read(const uint8_t *record, uint16_t *centrePort)
{
    *centrePort = Bytes_GetBE16(record + PORT_AT);
    uint8_t expected[LOGIN_RECORD_SIZE];
    LOGIN_Build(expected, *centrePort);
    return memcmp(record, expected, LOGIN_RECORD_SIZE) == 0;
}
