// Link frame decoding: any raw bytes decode without writing past the room given or
// reporting more data than stored; a good frame re-encodes and decodes to itself.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "link/frame.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1 || size > 8400) return 0;
    uint16_t room = data[0];  // any room, 0 to 255, and the frame after it
    std::vector<uint8_t> raw(data + 1, data + size);
    std::vector<uint8_t> out(room);
    uint16_t length = room;
    uint16_t header = 0;
    uint16_t status = LINK_Decode(out.data(), raw.data(), static_cast<uint16_t>(raw.size()), &length, &header);
    if (status == 0 && length > room) abort();
    if (status != 0) return 0;
    std::vector<uint8_t> again(LinkFrameMax(length));
    uint16_t n = LINK_Encode(again.data(), static_cast<uint8_t>(header), out.data(), length);
    std::vector<uint8_t> back(length);
    uint16_t backLength = length;
    uint16_t backHeader = 0;
    if (LINK_Decode(back.data(), again.data(), n, &backLength, &backHeader) != 0) abort();
    if (backHeader != header || backLength != length) abort();
    if (length != 0 && memcmp(back.data(), out.data(), length) != 0) abort();
    return 0;
}
