// The serial bridge: link frames from the input carry application blocks (code, block
// number, session frame bytes) to the centre log-in, to the bridge's reads and to a
// session on the port.  The far end is a second port joined in memory.
//
// Input: a mode byte (0: log-in to a centre, 1: reads of chosen lengths, 2: a passive
// peer-to-peer session that reads), then frames: a length byte and that many bytes, sent
// as the data of one link frame (or, when the length byte's top bit is set, as raw line
// bytes).
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "link/frame.h"
#include "link/link.h"
#include "link/rs232.h"
#include "platform/platform.h"
#include "session/session.h"
#include "transport/linkapi.h"

namespace {

constexpr short PORT = 41;     // the library's port
constexpr short FAR_END = 42;  // the input's station

int64_t fakeMs = 0;
int64_t FakeTime() { return fakeMs / 1000; }
void FakeSleep(uint32_t ms) { fakeMs += ms; }
int VKAPI Quiet(uint16_t, const char *, uint16_t) { return 0; }

bool ready = false;

bool SetUpOnce()
{
    if (ready) return true;
    setenv("VARNEK_DRUMMEL", VARNEK_DRUMMEL_PATH, 1);
    setenv("DRUMMEL_PORT41", "mem:fuzz", 1);
    setenv("DRUMMEL_PORT42", "mem:fuzz", 1);
    Platform_SetClock(FakeTime);
    Platform_SetSleep(FakeSleep);
    Session_Reset();
    if (LINK_Open(PORT, 96, 8, 'N', 1, 0, 1, 0) != 1 || LINK_Open(FAR_END, 96, 8, 'N', 1, 0, 1, 0) != 1) return false;
    LINK_SetNoSEQ();  // frames reach the bridge whatever their sequence numbers
    ready = true;
    return true;
}

void SendFrames(const uint8_t *data, size_t size)
{
    std::vector<uint8_t> frame;
    for (size_t at = 0; at < size;) {
        uint8_t head = data[at++];
        size_t n = head & 0x7F;
        if (n > size - at) n = size - at;
        if (head & 0x80) {
            RS232_Send(FAR_END, data + at, static_cast<uint16_t>(n));
        } else {
            frame.resize(LinkFrameMax(static_cast<unsigned>(n)));
            uint16_t length = LINK_Encode(frame.data(), 0xC0, data + at, static_cast<uint16_t>(n));
            RS232_Send(FAR_END, frame.data(), length);
        }
        at += n;
    }
}

void Reads(const uint8_t *data, size_t size)
{
    LINKAPI_WaitForOpen(PORT);
    LINKAPI_NuRecSize(PORT, 8740);
    std::vector<uint8_t> buffer;
    for (size_t i = 0; i < 8 && i < size; ++i) {
        uint16_t count = data[i] == 0xFF ? LINKAPI_ANY_FRAME : static_cast<uint16_t>(data[i] * 9);
        buffer.assign(count == LINKAPI_ANY_FRAME ? 1 : count, 0);
        uint16_t asked = count;
        if (LINKAPI_Read(PORT, buffer.data(), &count) != LINKAPI_DONE) return;
        if (asked != LINKAPI_ANY_FRAME && count != asked) abort();
    }
}

void Session(const uint8_t *data, size_t size)
{
    LINKAPI_NuRecSize(PORT, 8740);
    short id = -1;
    Session_Create(&id);
    SessionOpenParams params{};
    memcpy(params.localAddress, "41", 3);
    SessionPeerInfo peer{};
    if (Session_WaitForOpenP2P(id, &params, &peer) == VK_DONE) {
        for (size_t i = 0; i < 8 && i < size && Session_Record(id) != nullptr; ++i) {
            std::vector<uint8_t> buffer(data[i] * 3u);
            short rc = Session_RxStruct(id, buffer.data(), static_cast<uint16_t>(buffer.size()));
            if (rc == VK_TURN) Session_TxMsg(id, "ok", 2);
        }
    }
    if (Session_Record(id) != nullptr) Session_Release(id, ReleasePause::No);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (!SetUpOnce() || size < 9) return 0;
    SESSION_SetDispFunc(Quiet);
    LINK_Init(PORT);
    LINK_SetMaxRetry(PORT, 1);
    LINK_RxClr(FAR_END);
    LINKAPI_Reset(PORT);
    SendFrames(data + 9, size - 9);
    switch (data[0] % 3) {
    case 0:
        LINKAPI_SetP2P(PORT, 0);
        LINKAPI_Open(PORT, 5005);
        break;
    case 1: Reads(data + 1, 8); break;
    default: Session(data + 1, 8); break;
    }
    LINK_RxClr(PORT);
    return 0;
}
