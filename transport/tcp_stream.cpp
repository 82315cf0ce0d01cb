// A receive buffer in front of one TCP socket: exact reads served by memcpy.
#include "transport/tcp_stream.h"

#include <cstring>

#include "platform/net.h"
#include "platform/platform.h"
#include "transport/abort.h"
#include "transport/tcpapi.h"

namespace {

constexpr uint32_t RECEIVE_SLICE_MS = PLATFORM_POLL_MS;  // a pass blocks at most 10 ms

uint16_t Held(const TcpStream &stream) { return static_cast<uint16_t>(stream.end - stream.start); }

// Moves up to `room` held bytes to out; the number moved.
uint16_t Take(TcpStream &stream, uint8_t *out, uint16_t room)
{
    uint16_t n = Held(stream) < room ? Held(stream) : room;
    memcpy(out, stream.bytes + stream.start, n);
    stream.start = static_cast<uint16_t>(stream.start + n);
    return n;
}

int Receive(TcpStream &stream, int32_t s)
{
    int n = Net_Recv(s, stream.bytes, sizeof stream.bytes);
    if (n > 0) {
        stream.start = 0;
        stream.end = static_cast<uint16_t>(n);
    }
    return n;
}

TcpApiResult Failed(TcpStream &stream, int32_t s)
{
    Net_Close(s);
    TcpStream_Reset(stream);
    return TCPAPI_FAILED;
}

}  // namespace

void TcpStream_Reset(TcpStream &stream) { stream.start = stream.end = 0; }

short TcpStream_IsReceive(const TcpStream &stream, int32_t s)
{
    return Held(stream) > 0 ? 1 : TCPAPI_IsReceive(s);
}

short TcpStream_WaitForData(TcpStream &stream, int32_t s, void *buffer, uint16_t *count)
{
    uint16_t wanted = *count;
    if (wanted == 0) return TCPAPI_DONE;
    *count = 0;
    int64_t start = Platform_Time();
    auto *out = static_cast<uint8_t *>(buffer);
    for (;;) {
        if (ABORT_Check()) return TCPAPI_ABORTED;
        if (Held(stream) == 0) {
            int n = Receive(stream, s);  // try first; wait only when nothing is there
            if (n < 0 && Net_LastError() == NET_EWOULDBLOCK) {
                int ready = Net_Wait(s, NetWait::Read, RECEIVE_SLICE_MS);
                if (ready < 0) return Failed(stream, s);
                if (ready == 0) {
                    if (TCPAPI_GetTimeout() != 0 && TCPAPI_Expired(start)) return TCPAPI_TIMEOUT;
                    continue;
                }
                n = Receive(stream, s);
                if (n < 0 && Net_LastError() == NET_EWOULDBLOCK) continue;
            }
            if (n < 0) return Net_LastError() == NET_EMSGSIZE ? TCPAPI_TOO_BIG : Failed(stream, s);
            if (n == 0) {
                Net_Close(s);  // the peer closed: what came before has been delivered
                return TCPAPI_DONE;
            }
        }
        *count = static_cast<uint16_t>(*count + Take(stream, out + *count, static_cast<uint16_t>(wanted - *count)));
        if (*count == wanted) return TCPAPI_DONE;
    }
}
