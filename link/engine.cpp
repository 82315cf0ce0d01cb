// The link's send/receive engine: frames out with sequence numbers, answers checked,
// retransmission with noise filtering, byte counting, traces.
#include <array>
#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "link/frame.h"
#include "link/link.h"
#include "link/rs232.h"
#include "link/script.h"
#include "platform/platform.h"

namespace {

std::array<LinkPort, LINK_PORT_LAST + 1> ports{};
LinkStats stats{};
// Process-wide settings, set by one thread while ports run on others.
std::atomic<bool> noSeqCheck{false};
std::atomic<bool> sharedBuffers{false};

constexpr int MIN_FRAME = 5;
constexpr int NOISE_DRAW_LIMIT = 100;
constexpr uint16_t TRACE_CHANNEL_BASE = 100;
// A raw read takes at most this many characters: noise that never completes a frame
// ends it as a wait that ended without one, so that the retry budget bounds a receive.
constexpr uint32_t RAW_READ_BUDGET = 2u * LINK_BUFFER_SIZE;

void SetNextSendSeq(LinkPort &p, uint8_t v) { p.seq = static_cast<uint8_t>((p.seq & 0x38) | (v & 7)); }
void SetExpectSeq(LinkPort &p, uint8_t v) { p.seq = static_cast<uint8_t>((p.seq & 0x07) | (v & 7) << 3); }

bool Special(uint8_t b) { return (b & 0xFC) == 0x10 || b == LINK_CR; }

// Bytes the frame takes on the wire once stuffed.
unsigned StuffedLength(uint8_t header, const uint8_t *data, uint16_t n)
{
    unsigned length = 2 + (Special(header) ? 2 : 1);
    for (uint16_t i = 0; i < n; ++i) length += Special(data[i]) ? 2 : 1;
    uint8_t withHeader[1] = {header};
    uint16_t crc = crc16_CalcNext(crc16_CalcStart(withHeader, 1), data, n);
    length += Special(static_cast<uint8_t>(crc & 0xFF)) ? 2 : 1;
    length += Special(static_cast<uint8_t>(crc >> 8)) ? 2 : 1;
    return length;
}

void CountRetry(short port)
{
    if (port == 1 && stats.events >= 0 && stats.events < LINK_RETRY_SLOTS) ++stats.retries[stats.events];
}

void CountAnswer(short port, int tries)
{
    if (port != 1) return;
    ++stats.frames;
    if (tries != 0 && stats.events < INT16_MAX) ++stats.events;
}

short CheckSequence(short port, LinkPort &p, bool isData, uint16_t length)
{
    uint8_t req = p.rxHeader >> 3 & 7;
    uint8_t send = p.rxHeader & 7;
    if (isData) {
        if (!noSeqCheck && (req != LINK_NextSendSeq(p) || send != LINK_ExpectSeq(p))) {
            if (send != LINK_ExpectSeq(p)) {
                LINK_Trace(port, "Request was for SEQ=%d , but received SEQ=%d", LINK_ExpectSeq(p), send);
            }
            if (req != LINK_NextSendSeq(p)) {
                LINK_Trace(port, "Next send SEQ=%d , but requested SEQ=%d", LINK_NextSendSeq(p), req);
            }
            return -1;
        }
        SetExpectSeq(p, static_cast<uint8_t>(LINK_ExpectSeq(p) + 1));
        return static_cast<short>(length + 1);
    }
    if (!noSeqCheck && req != LINK_NextSendSeq(p)) {
        LINK_Trace(port, "Next send SEQ=%d , but requested SEQ=%d", LINK_NextSendSeq(p), req);
        return -1;
    }
    return 1;
}

// Traces what a script operation reports; true when it was done.
bool ScriptDone(short port, ScriptResult result)
{
    const char *text = SCRIPT_TraceText(result);
    if (text != nullptr) LINK_Trace(port, "%s", text);
    return result == SCRIPT_DONE;
}

}  // namespace

LinkPort *LINK_Port(short port) { return port >= LINK_PORT_FIRST && port <= LINK_PORT_LAST ? &ports[port] : nullptr; }
LinkStats &LINK_Stats() { return stats; }
uint8_t LINK_NextSendSeq(const LinkPort &p) { return p.seq & 7; }
uint8_t LINK_ExpectSeq(const LinkPort &p) { return p.seq >> 3 & 7; }
void LINK_ResetSeq(LinkPort &p) { p.seq = 0; }

uint8_t *BUFFERS_GetRx(short port) { return sharedBuffers ? ports[1].rxBuffer : LINK_Port(port)->rxBuffer; }
uint8_t *BUFFERS_GetTx(short port) { return sharedBuffers ? ports[1].txBuffer : LINK_Port(port)->txBuffer; }

void LINK_Trace(short port, const char *format, ...)
{
    char line[160];
    va_list args;
    va_start(args, format);
    vsnprintf(line, sizeof line, format, args);
    va_end(args);
    LINK_WriteDebug(port, line, 0);
}

short LINK_Transmit(short port, const uint8_t *frame, uint16_t length)
{
    short rc = RS232_Send(port, frame, length);
    LINK_Port(port)->lastTxLength = length;
    LINK_PutDiag(port, static_cast<short>(length));
    return rc == 1 ? 1 : 0;
}

uint16_t LINK_ReadRaw(short port, uint8_t *buffer, uint16_t capacity)
{
    if (LINK_IsScriptRead(port)) {
        uint16_t length = 0;
        return ScriptDone(port, SCRIPT_Read(port, buffer, &length)) ? length : 0;
    }
    LINK_Trace(port, "\nReceive %d", port);
    uint16_t count = 0;
    bool started = false;
    bool complete = false;
    for (uint32_t drawn = 0; count < capacity; ++drawn) {
        uint8_t c = 0;
        if (drawn == RAW_READ_BUDGET || RS232_ReceiveCharWait(port, &c) == -1) {
            if (SCRIPT_Recording(port)) ScriptDone(port, SCRIPT_Write(port, nullptr, 0));
            return 0;  // a partial frame is dropped
        }
        buffer[count] = c;
        if (started && c == LINK_CR) {
            ++count;
            complete = true;
            break;
        }
        if (count == 0 && c != LINK_STX) continue;
        if (c == LINK_STX) count = 0;
        // A frame start while the port's own transmission is still leaving is an echo.
        if (!started && RS232_IsTransmitted(port) == 0) continue;
        started = true;
        ++count;
    }
    if (SCRIPT_Recording(port)) ScriptDone(port, SCRIPT_Write(port, buffer, count));
    if (!complete) {
        LINK_Trace(port, "!!! Received more than buffer size %d !!!!", capacity);
        return static_cast<uint16_t>(capacity + 1);
    }
    return count;
}

short LINK_RcvFrame(short port, uint8_t *buffer, uint16_t capacity)
{
    LinkPort &p = *LINK_Port(port);
    uint8_t *raw = BUFFERS_GetRx(port);
    uint16_t rawLength = LINK_ReadRaw(port, raw, LINK_BUFFER_SIZE);
    LINK_PutDiag(port, static_cast<short>(rawLength));
    if (rawLength == 0) return 0;
    if (rawLength < MIN_FRAME) {
        LINK_Trace(port, "Noise (%d)", rawLength);
        return -1;
    }
    if (rawLength > LINK_BUFFER_SIZE) rawLength = LINK_BUFFER_SIZE;
    uint16_t length = capacity;
    uint16_t header = 0;
    bool tooBig = false;
    uint16_t status = LINK_DecodeFrame(buffer, raw, rawLength, &length, &header, &tooBig);
    p.rxHeader = static_cast<uint8_t>(header);
    char text[64];
    LINK_FrameText(p.rxHeader, length, text);
    LINK_Trace(port, "\nLINK Rcv    : %s", text);
    if (tooBig) {
        LINK_Trace(port, "Receive buffer size error ( > %d)", capacity);
        return -1;
    }
    if (status != 0) {
        LINK_Trace(port, "Receive CRC error ");
        return -1;
    }
    return CheckSequence(port, p, (p.rxHeader & LINK_DATA) != 0, length);
}

short LINK_NoiseFilter(short port)
{
    LINK_Trace(port, "Link Noise Filter");
    for (int drawn = 0; drawn < NOISE_DRAW_LIMIT;) {
        LINK_RxClr(port);
        if (RS232_IsAbort()) return 0;
        uint8_t c;
        if (RS232_ReceiveChar(port, &c) != 1) break;
        ++drawn;
    }
    return LINK_IsCd(port);
}

extern "C" {

short LINK_Send(short port, const void *data, uint16_t n)
{
    LinkPort *p = LINK_Port(port);
    if (p == nullptr) return 0;
    const auto *bytes = static_cast<const uint8_t *>(data);
    if (n != 0) LINK_RxClr(port);
    uint8_t *tx = BUFFERS_GetTx(port);
    uint8_t header = static_cast<uint8_t>((p->dir & 1) << 7 | LINK_ExpectSeq(*p) << 3);
    header = static_cast<uint8_t>(n != 0 ? header | LINK_DATA | LINK_NextSendSeq(*p) : header | 1);
    if (StuffedLength(header, bytes, n) > LINK_BUFFER_SIZE) return 0;  // the block cannot be held
    p->txHeader = header;
    char text[64];
    LINK_FrameText(header, n, text);
    LINK_Trace(port, "LINK Send   : %s", text);
    uint16_t length = LINK_Encode(tx, header, bytes, n);
    short rc = LINK_Transmit(port, tx, length);
    if (header & LINK_DATA) SetNextSendSeq(*p, static_cast<uint8_t>(LINK_NextSendSeq(*p) + 1));
    return rc;
}

short LINK_SndAck(short port) { return LINK_Send(port, nullptr, 0); }

short LINK_Receive(short port, void *buffer, uint16_t capacity)
{
    LinkPort *p = LINK_Port(port);
    if (p == nullptr) return 0;
    uint8_t *tx = BUFFERS_GetTx(port);
    auto *out = static_cast<uint8_t *>(buffer);
    for (int tries = 0;;) {
        short r = LINK_RcvFrame(port, out, capacity);
        if (r == -1) r = LINK_RcvFrame(port, out, capacity);
        if (r > 0) {
            CountAnswer(port, tries);
            return r;
        }
        if (RS232_IsAbort()) {
            LINK_Trace(port, "User Abort");
            return 0;
        }
        if (!LINK_IsCd(port) || !LINK_NoiseFilter(port)) {
            LINK_Trace(port, "CD Lost");
            return 0;
        }
        LINK_Trace(port, "Retry to send");
        CountRetry(port);
        if (++tries > p->maxRetry) return 0;
        if (!LINK_Transmit(port, tx, p->lastTxLength)) return 0;
    }
}

short LINK_SndRcv(short port, const void *data, uint16_t n, void *buffer, uint16_t capacity)
{
    if (!LINK_Send(port, data, n)) return 0;
    return LINK_Receive(port, buffer, capacity);
}

short LINK_Stx(short port)
{
    uint8_t c = 0;
    if (!RS232_ShowRcvChar(port, 0, &c)) return 0;
    if (c == LINK_STX) return 1;
    RS232_ReceiveChar(port, &c);
    return 0;
}

short LINK_IsRcv(short port) { return RS232_GetRecCount(port) >= MIN_FRAME ? 1 : 0; }

short LINK_IsCd(short port) { return RS232_IsModem(port) != 0 && RS232_IsCd(port) == 0 ? 0 : 1; }

short LINK_RxClr(short port) { return RS232_ReceiveClear(port); }

void LINK_SetDir(short port, uint16_t dir)
{
    LinkPort *p = LINK_Port(port);
    if (p != nullptr) p->dir = dir;
}

uint16_t LINK_SetMaxRetry(short port, uint16_t limit)
{
    LinkPort *p = LINK_Port(port);
    if (p != nullptr) p->maxRetry = limit;
    return limit;
}

void LINK_SetNoSEQ(void) { noSeqCheck.store(true, std::memory_order_relaxed); }

void LINK_SetLongBuffer(void) { sharedBuffers.store(true, std::memory_order_relaxed); }

short LINK_WriteDebug(short port, const char *text, short flag)
{
    return RS232_WriteDebug(static_cast<short>(port + TRACE_CHANNEL_BASE), text, flag);
}

void LINK_PutDiag(short port, short count)
{
    LinkPort *p = LINK_Port(port);
    if (p == nullptr) return;
    if (count == -1) {
        p->byteCount = 0;
        p->countStart = Platform_Time();
        return;
    }
    p->byteCount += count;
}

}  // extern "C"
