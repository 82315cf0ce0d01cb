// The decompressor fed with frames from the input, plain or compressed, in blocking or
// non-blocking mode with resumed reads: no read writes past its request or reports more
// bytes than it wrote, and a broken stream never passes for an ended message.
//
// Input: a mode byte (bit 0 compression on, bit 1 pauses), then operations: a read of
// n bytes (n from the input), or a frame (flags, length, payload from the input).
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "session/session.h"
#include "zip/zip.h"

namespace {

constexpr uint16_t SESSION = 7;
constexpr uint16_t FRAME_ROOM = 320;

struct Input {
    const uint8_t *data;
    size_t size;
    size_t at;
    bool More() const { return at < size; }
    uint8_t Byte() { return at < size ? data[at++] : 0; }
};

Input input;
bool pauses = false;
uint8_t frameData[FRAME_ROOM];

}  // namespace

// The session's frame receive, as the decompressor sees it: the next frame of the input,
// 0 for a pause (non-blocking), -2 when the input is used up (the transport failed).
short Session_ReceiveFrame(int16_t, SessionFrame *frame)
{
    if (!input.More()) return -2;
    uint8_t flags = input.Byte();
    if (pauses && (flags & 0x80)) return 0;
    uint16_t length = static_cast<uint16_t>(input.Byte() % 300);
    for (uint16_t i = 0; i < length; ++i) frameData[i] = input.Byte();
    frame->payload = frameData;
    frame->length = length;
    frame->final = (flags & 0x40) ? 1 : 0;
    frame->packed = (flags & 0x08) ? 1 : 0;
    return 1;
}

extern "C" void Session_DebugMsg(short, const char *) {}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1) return 0;
    input = Input{data, size, 1};
    pauses = (data[0] & 2) != 0;
    ZIP_UnzipReset();
    ZIP_DefReset();
    if (ZIP_UnzipCreate(SESSION, 256) != 0) return 0;
    ZIP_SetVersion(SESSION, (data[0] & 1) ? 2 : 0);
    for (int reads = 0; input.More() && reads < 64; ++reads) {
        uint8_t high = input.Byte();
        uint16_t wanted = static_cast<uint16_t>(high << 8 | input.Byte());
        wanted = static_cast<uint16_t>(wanted % 2000);
        std::vector<uint8_t> destination(wanted);  // exact: any write past it is caught
        uint16_t done = 0;
        int16_t rc;
        do {  // a read that paused is called again for the rest, as a host does
            uint16_t count = static_cast<uint16_t>(wanted - done);
            uint8_t last = 0;
            rc = ZIP_UnzipFrame(SESSION, destination.data() + done, &count, &last);
            if (count > wanted - done) abort();
            if (rc == 1 && !last) abort();
            done = static_cast<uint16_t>(done + count);
        } while (rc == -4 && input.More());
        if (rc == -3 || rc == -2) break;
    }
    ZIP_UnzipDelete(SESSION);
    return 0;
}
