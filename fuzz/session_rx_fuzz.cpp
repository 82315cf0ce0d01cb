// The session receive path over a real loopback connection: a caller's bytes (its open
// frame and what follows: headers, open blocks, lengths, hold bytes, close codes, abort
// texts, payloads) against a passive open and the host's reads, blocking or not.
//
// Input: a mode byte (bit 0 non-blocking, bit 1 compression offered, bit 2 the bytes
// arrive in three parts with pauses between), eight read lengths of two bytes each, then
// the caller's bytes.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <sys/socket.h>
#include <thread>
#include <vector>

#include "platform/net.h"
#include "platform/platform.h"
#include "session/session.h"
#include "support/bytes.h"
#include "zip/zip.h"

namespace {

constexpr int READS = 8;
const uint8_t LOOPBACK[4] = {127, 0, 0, 1};

int64_t fakeMs = 0;
int64_t FakeTime() { return fakeMs / 1000; }
void FakeSleep(uint32_t ms) { fakeMs += ms; }
// Every wait asks the abort callback once a pass: each pass moves the clock on 2 s, so
// that a time-out costs one pass of real time.
int VKAPI OnePassPerTwoSeconds()
{
    fakeMs += 2000;
    return 0;
}
int VKAPI Quiet(uint16_t, const char *, uint16_t) { return 0; }

uint16_t port = 0;

int32_t Call();

// The library's listening socket is made by its first passive open, and kept: one open
// against a caller that hangs up at once makes it.
void SetUpOnce()
{
    if (port != 0) return;
    Platform_SetClock(FakeTime);
    Platform_SetSleep(FakeSleep);
    Session_Reset();
    int32_t probe = Net_Socket(NetType::Stream);
    Net_Bind(probe, LOOPBACK, 0);
    port = Net_LocalPort(probe);
    Net_Close(probe);
    std::thread hangUp([] {
        for (int tries = 0; tries < 500; ++tries) {
            int32_t s = Call();
            if (s != NET_NO_SOCKET) {
                Net_Close(s);
                return;
            }
            Platform_RealSleepMs(2);
        }
    });
    short id = -1;
    Session_Create(&id);
    SessionOpenParams params{};
    memcpy(params.localAddress, "127.000.000.001", 16);
    params.service = port;
    Session_WaitForOpen(id, &params, nullptr);
    hangUp.join();
    Session_Release(id, ReleasePause::No);
}

int32_t Call()
{
    int32_t s = Net_Socket(NetType::Stream);
    if (Net_Connect(s, LOOPBACK, port) != 0 && Net_ConnectResult(s, 1000) != 0) {
        Net_Close(s);
        return NET_NO_SOCKET;
    }
    linger now{1, 0};  // no TIME_WAIT behind each run
    setsockopt(s, SOL_SOCKET, SO_LINGER, &now, sizeof now);
    return s;
}

void Feed(int32_t s, const uint8_t *data, size_t size)
{
    for (size_t sent = 0; sent < size;) {
        if (Net_Wait(s, NetWait::Write, 1000) != 1) return;
        int n = Net_Send(s, data + sent, size - sent);
        if (n <= 0) return;
        sent += static_cast<size_t>(n);
    }
}

// The host's reads until the session ends or the reads run out; false while a
// non-blocking read waits for more.
bool Read(short id, const uint16_t (&lengths)[READS], int &next)
{
    for (; next < READS && Session_Record(id) != nullptr; ++next) {
        std::vector<uint8_t> buffer(lengths[next]);  // exact: any write past it is caught
        short rc = Session_RxStruct(id, buffer.data(), lengths[next]);
        if (rc == VK_NODATA) return false;
        if (rc == VK_TURN) Session_TxMsg(id, "ok", 2);
        if (rc == VK_FAIL && Session_Record(id) != nullptr) abort();  // -2 always releases
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    SetUpOnce();
    if (size < 1 + 2 * READS) return 0;
    uint8_t mode = data[0];
    uint16_t lengths[READS];
    for (int i = 0; i < READS; ++i) lengths[i] = static_cast<uint16_t>(Bytes_GetBE16(data + 1 + 2 * i) % 1200);
    const uint8_t *wire = data + 1 + 2 * READS;
    size_t wireSize = size - 1 - 2 * READS;
    size_t parts = (mode & 4) ? 3 : 1;

    SESSION_SetDispFunc(Quiet);
    ABORT_SetFunc(OnePassPerTwoSeconds);
    SESSION_SetTimeout(1000);
    ZIP_SetOfferedVersion((mode & 2) ? 2 : 0);
    int32_t caller = Call();
    if (caller == NET_NO_SOCKET) return 0;
    size_t partSize = wireSize / parts;
    Feed(caller, wire, parts == 1 ? wireSize : partSize);
    if (parts == 1) shutdown(caller, SHUT_WR);  // reads past the end fail at once
    short id = -1;
    Session_Create(&id);
    SessionOpenParams params{};
    memcpy(params.localAddress, "127.000.000.001", 16);
    params.service = port;
    SessionPeerInfo peer{};
    short opened = (mode & 1) ? Session_WaitForOpenNbm(id, &params, &peer) : Session_WaitForOpen(id, &params, &peer);
    if (opened == VK_DONE) {
        int next = 0;
        for (size_t part = 1; !Read(id, lengths, next) && part < parts; ++part) {
            size_t from = part * partSize;
            Feed(caller, wire + from, part + 1 == parts ? wireSize - from : partSize);
            if (part + 1 == parts) shutdown(caller, SHUT_WR);
        }
    }
    if (Session_Record(id) != nullptr) Session_Release(id, ReleasePause::No);
    Net_Close(caller);
    return 0;
}
