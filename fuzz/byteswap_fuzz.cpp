// Structure byte-order conversion: any type string converts exactly the bytes its items
// add up to, and reports its errors without a box in the way.
#include <cstdint>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "varnek.h"

namespace {
void NoBox(const char *, const char *) {}

size_t ItemBytes(const std::string &type)
{
    size_t total = 0;
    for (size_t i = 0; i < type.size(); ++i) {
        if (type[i] != '%') continue;
        if (i + 1 < type.size() && type[i + 1] == 'f') ++i;
        char letter = i + 1 < type.size() ? type[i + 1] : '\0';
        if (letter == 'b') total += 1;
        else if (letter == 'd') total += 2;
        else if (letter == 'l') total += 4;
        else return total;  // an invalid item ends the conversion
        ++i;
    }
    return total;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    Platform_SetMessageBox(NoBox);
    if (size < 1) return 0;
    std::string type(reinterpret_cast<const char *>(data + 1), size - 1);
    type = type.c_str();  // the string ends at its first NUL, as a C string does
    std::vector<uint8_t> structure(ItemBytes(type));  // exactly the bytes it may touch
    BYTESWAP_Do(type.c_str(), structure.data(), static_cast<int32_t>(data[0]));
    return 0;
}
