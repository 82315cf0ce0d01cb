// The serial bridge: session frame bytes in application blocks over a link port.
#include "transport/linkapi.h"

#include <array>
#include <cstdio>
#include <cstring>

#include "transport/abort.h"
#include "varnek.h"

namespace {

std::array<LinkApiPort, 501> ports{};

constexpr size_t TRACE_LINE = 128;
constexpr uint16_t BLOCK_MAX = LINKAPI_BLOCK_HEADER + LINKAPI_BLOCK_PAYLOAD;

uint16_t CodeFor(uint16_t recSize)
{
    if (recSize == 520) return LINKAPI_CODE_520;
    if (recSize == 1040) return LINKAPI_CODE_1040;
    return LINKAPI_CODE_2080;
}

// The two header fields between host order and the line's order, in place.
void SwapHeader(uint8_t *block)
{
    BYTESWAP_Do("%d", block, 2);
    BYTESWAP_Do("%d", block + 2, 2);
}

void Trace(int16_t port, const char *format, const uint8_t *block, int length)
{
    char text[64];
    char line[TRACE_LINE];
    LINK_FrameDebug(text, block, static_cast<short>(length));
    snprintf(line, sizeof line, format, text);
    LINK_WriteDebug(port, line, 0);
}

// Takes the peer's next frame into the incoming block: its LINK_Receive result, with a
// data frame too short to hold a block header refused as a failure.
short ReceiveBlock(int16_t port, LinkApiPort &p)
{
    p.lineTurn = 2;
    short n = LINK_Receive(port, p.in, BLOCK_MAX);
    if (n == 0) return 0;
    SwapHeader(p.in);
    Trace(port, "APPCOM Rcv  : %s", p.in, n - 1);
    if (n > 1 && n < LINKAPI_BLOCK_HEADER + 1) return 0;  // 1 to 3 data bytes: no block header
    return n;
}

}  // namespace

LinkApiPort *LINKAPI_Port(int16_t port) { return port >= 1 && port <= 500 ? &ports[port] : nullptr; }

int16_t LINKAPI_Reset(int16_t port)
{
    LinkApiPort *p = LINKAPI_Port(port);
    if (p == nullptr) return LINKAPI_FAILED;
    p->lineTurn = 0;
    p->txFill = 0;
    p->recSize = LINKAPI_BLOCK_PAYLOAD;
    p->p2p = 1;
    return LINKAPI_DONE;
}

void LINKAPI_SetP2P(int16_t port, uint16_t flag)
{
    LinkApiPort *p = LINKAPI_Port(port);
    if (p == nullptr) return;
    p->p2p = flag;
    if (flag != 0) p->recLimit = LINKAPI_BLOCK_PAYLOAD;
}

int16_t LINKAPI_WaitForOpen(int16_t port)
{
    LinkApiPort *p = LINKAPI_Port(port);
    if (p == nullptr) return LINKAPI_FAILED;
    p->rxFill = 0;
    p->lineTurn = 1;
    p->nextBlockNo = 2;
    p->txFill = 0;
    return LINKAPI_DONE;
}

int16_t LINKAPI_Flush(int16_t port)
{
    LinkApiPort *p = LINKAPI_Port(port);
    if (p == nullptr) return LINKAPI_FAILED;
    if (p->txFill == 0) return LINKAPI_DONE;
    if (p->lineTurn == 1) {
        p->lineTurn = 2;
        if (ABORT_Check()) return LINKAPI_ABORTED;
        short n = ReceiveBlock(port, *p);
        if (n < 1) return LINKAPI_FAILED;
        if (n > 1) p->rxFill = static_cast<uint16_t>(n - 5);  // replaces what was left unread
    }
    uint16_t code = CodeFor(p->recSize);
    memcpy(p->out, &code, 2);
    memcpy(p->out + 2, &p->nextBlockNo, 2);
    ++p->nextBlockNo;
    uint16_t length = static_cast<uint16_t>(p->txFill + LINKAPI_BLOCK_HEADER);
    p->txFill = 0;
    Trace(port, "APPCOM Send : %s", p->out, length);
    SwapHeader(p->out);
    short sent = LINK_Send(port, p->out, length);
    SwapHeader(p->out);
    if (sent == 0) return LINKAPI_FAILED;
    p->lineTurn = 1;
    return LINKAPI_DONE;
}

int16_t LINKAPI_Write(int16_t port, const uint8_t *data, uint16_t n)
{
    LinkApiPort *p = LINKAPI_Port(port);
    if (p == nullptr) return LINKAPI_FAILED;
    if (n == 0) return LINKAPI_DONE;
    if (n >= LINKAPI_BLOCK_PAYLOAD || n >= p->recLimit) return LINKAPI_FAILED;  // can never fit
    while (p->txFill + n >= LINKAPI_BLOCK_PAYLOAD || p->txFill + n >= p->recLimit) {
        int16_t rc = LINKAPI_Flush(port);
        if (rc != LINKAPI_DONE) return rc;
    }
    memcpy(p->out + LINKAPI_BLOCK_HEADER + p->txFill, data, n);
    p->txFill = static_cast<uint16_t>(p->txFill + n);
    return LINKAPI_DONE;
}

int16_t LINKAPI_Push(int16_t port)
{
    LinkApiPort *p = LINKAPI_Port(port);
    if (p != nullptr && p->txFill != 0) LINKAPI_Flush(port);
    return LINKAPI_DONE;
}

int16_t LINKAPI_Read(int16_t port, uint8_t *buffer, uint16_t *count)
{
    LinkApiPort *p = LINKAPI_Port(port);
    if (p == nullptr) return LINKAPI_FAILED;
    if (p->txFill != 0) LINKAPI_Flush(port);
    bool anyFrame = *count == LINKAPI_ANY_FRAME;
    if (anyFrame) {
        *count = 1;
    } else if (*count == 0) {
        return LINKAPI_DONE;
    }
    uint16_t got = 0;
    for (;;) {
        if (static_cast<int16_t>(*count) <= static_cast<int16_t>(got)) return LINKAPI_FAILED;
        uint16_t need = static_cast<uint16_t>(*count - got);
        uint8_t *payload = p->in + LINKAPI_BLOCK_HEADER;
        if (need <= p->rxFill) {
            memcpy(buffer + got, payload, need);
            p->rxFill = static_cast<uint16_t>(p->rxFill - need);
            memmove(payload, payload + need, p->rxFill);
            return LINKAPI_DONE;
        }
        memcpy(buffer + got, payload, p->rxFill);
        got = static_cast<uint16_t>(got + p->rxFill);
        p->rxFill = 0;
        if (p->lineTurn == 2) {
            LINK_WriteDebug(port, "APPCOM Send : <ACK>", 0);
            if (LINK_SndAck(port) == 0) return LINKAPI_FAILED;
            p->lineTurn = 1;
        }
        if (ABORT_Check()) return LINKAPI_ABORTED;
        short n = ReceiveBlock(port, *p);
        if (n < 1) return LINKAPI_FAILED;
        if (n > 1) p->rxFill = static_cast<uint16_t>(p->rxFill + n - 5);
        if (p->rxFill == 0 && anyFrame) return LINKAPI_DONE;
    }
}

extern "C" short LINKAPI_NuRecSize(short port, uint16_t code)
{
    LinkApiPort *p = LINKAPI_Port(port);
    if (p == nullptr || code < LINKAPI_CODE_520 || code > LINKAPI_CODE_2080) return LINKAPI_FAILED;
    p->recLimit = static_cast<uint16_t>(520u << (code - LINKAPI_CODE_520));
    return LINKAPI_DONE;
}
