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
// LINK_Receive answers k + 1 for a frame of k data bytes (1 for an acknowledgement).
constexpr short RECEIVE_COUNT_EXTRA = 1;
// What LINK_Receive's answer counts beyond a block's payload.
constexpr short RECEIVE_BLOCK_OVERHEAD = RECEIVE_COUNT_EXTRA + LINKAPI_BLOCK_HEADER;

// The record sizes the codes name: 520 for LINKAPI_CODE_520, doubling with each code.
constexpr uint16_t RECORD_SIZE_SMALLEST = 520;

uint16_t RecordSizeOf(uint16_t code)
{
    return static_cast<uint16_t>(RECORD_SIZE_SMALLEST << (code - LINKAPI_CODE_520));
}

uint16_t CodeFor(uint16_t recSize)
{
    if (recSize == RecordSizeOf(LINKAPI_CODE_520)) return LINKAPI_CODE_520;
    if (recSize == RecordSizeOf(LINKAPI_CODE_1040)) return LINKAPI_CODE_1040;
    return LINKAPI_CODE_2080;
}

// The block header as the line carries it: code, then block number, each most
// significant byte first.
void PutHeader(uint8_t *block, uint16_t code, uint16_t blockNo)
{
    block[0] = static_cast<uint8_t>(code >> 8);
    block[1] = static_cast<uint8_t>(code);
    block[2] = static_cast<uint8_t>(blockNo >> 8);
    block[3] = static_cast<uint8_t>(blockNo);
}

// LINK_FrameDebug reads a block's header in host order: the trace gets the two numbers
// so, and the count of bytes the block has.
void Trace(int16_t port, const char *format, uint16_t code, uint16_t blockNo, int length)
{
    uint16_t header[2] = {code, blockNo};
    char text[64];
    char line[TRACE_LINE];
    LINK_FrameDebug(text, header, static_cast<short>(length));
    snprintf(line, sizeof line, format, text);
    LINK_WriteDebug(port, line, 0);
}

uint16_t GetU16(const uint8_t *p) { return static_cast<uint16_t>(p[0] << 8 | p[1]); }

// Takes the peer's next frame into the incoming block: its LINK_Receive result, with a
// data frame too short to hold a block header refused as a failure.
short ReceiveBlock(int16_t port, LinkApiPort &p)
{
    p.lineTurn = LINKAPI_TURN_THIS;
    short n = LINK_Receive(port, p.in, BLOCK_MAX);
    if (n == 0) return 0;
    Trace(port, "APPCOM Rcv  : %s", GetU16(p.in), GetU16(p.in + 2), n - RECEIVE_COUNT_EXTRA);
    if (n > RECEIVE_COUNT_EXTRA && n < RECEIVE_BLOCK_OVERHEAD) return 0;  // 1 to 3 data bytes: no block header
    return n;
}

// The payload bytes a received data frame brings (n: LINK_Receive's answer).
uint16_t PayloadOf(short n) { return static_cast<uint16_t>(n - RECEIVE_BLOCK_OVERHEAD); }

}  // namespace

LinkApiPort *LINKAPI_Port(int16_t port) { return port >= 1 && port <= 500 ? &ports[port] : nullptr; }

int16_t LINKAPI_Reset(int16_t port)
{
    LinkApiPort *p = LINKAPI_Port(port);
    if (p == nullptr) return LINKAPI_FAILED;
    p->lineTurn = LINKAPI_TURN_NONE;
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
    p->lineTurn = LINKAPI_TURN_PEER;
    p->nextBlockNo = 2;
    p->txFill = 0;
    return LINKAPI_DONE;
}

int16_t LINKAPI_Flush(int16_t port)
{
    LinkApiPort *p = LINKAPI_Port(port);
    if (p == nullptr) return LINKAPI_FAILED;
    if (p->txFill == 0) return LINKAPI_DONE;
    if (p->lineTurn == LINKAPI_TURN_PEER) {
        p->lineTurn = LINKAPI_TURN_THIS;
        if (ABORT_Check()) return LINKAPI_ABORTED;
        short n = ReceiveBlock(port, *p);
        if (n < 1) return LINKAPI_FAILED;
        if (n > RECEIVE_COUNT_EXTRA) p->rxFill = PayloadOf(n);  // replaces what was left unread
    }
    uint16_t code = CodeFor(p->recSize);
    uint16_t blockNo = p->nextBlockNo++;
    PutHeader(p->out, code, blockNo);
    uint16_t length = static_cast<uint16_t>(p->txFill + LINKAPI_BLOCK_HEADER);
    p->txFill = 0;
    Trace(port, "APPCOM Send : %s", code, blockNo, length);
    if (LINK_Send(port, p->out, length) == 0) return LINKAPI_FAILED;
    p->lineTurn = LINKAPI_TURN_PEER;
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
        if (p->lineTurn == LINKAPI_TURN_THIS) {
            LINK_WriteDebug(port, "APPCOM Send : <ACK>", 0);
            if (LINK_SndAck(port) == 0) return LINKAPI_FAILED;
            p->lineTurn = LINKAPI_TURN_PEER;
        }
        if (ABORT_Check()) return LINKAPI_ABORTED;
        short n = ReceiveBlock(port, *p);
        if (n < 1) return LINKAPI_FAILED;
        if (n > RECEIVE_COUNT_EXTRA) p->rxFill = static_cast<uint16_t>(p->rxFill + PayloadOf(n));
        if (p->rxFill == 0 && anyFrame) return LINKAPI_DONE;
    }
}

extern "C" short LINKAPI_NuRecSize(short port, uint16_t code)
{
    LinkApiPort *p = LINKAPI_Port(port);
    if (p == nullptr || code < LINKAPI_CODE_520 || code > LINKAPI_CODE_2080) return LINKAPI_FAILED;
    p->recLimit = RecordSizeOf(code);
    return LINKAPI_DONE;
}
