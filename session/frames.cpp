// Session frames: header build and decode, whole frames sent and received through the
// session's transport (transport.h), and the abort handshake.
#include <cstring>

#include "platform/platform.h"
#include "session/session.h"
#include "transport/abort.h"

namespace {

constexpr size_t OPEN_BLOCK_SIZE = 39;
constexpr size_t ABORT_TEXT_MAX = 64;
constexpr size_t HEADER_AREA = 64;
constexpr int ABORT_DISCONNECT_SECONDS = 10;

void PutU16(uint8_t *p, uint16_t v)
{
    p[0] = static_cast<uint8_t>(v >> 8);
    p[1] = static_cast<uint8_t>(v);
}

uint16_t GetU16(const uint8_t *p) { return static_cast<uint16_t>(p[0] << 8 | p[1]); }

void ClearSendFlags(SessionRecord *rec)
{
    rec->txOpen = rec->txEnd = rec->txHold = rec->txClose = rec->txPacked = 0;
}

void ClearReceiveFlags(SessionRecord *rec)
{
    rec->rxOpen = rec->rxEnd = rec->rxHold = rec->rxClose = rec->rxPacked = 0;
}

// Builds the header into out; may put the abort text into txBuffer.  Returns its length.
size_t BuildHeader(SessionRecord *rec, uint16_t final, uint8_t *out)
{
    size_t length = 1;
    uint8_t flags = 0;
    size_t lengthField = 0;
    if (rec->txOpen) {
        flags |= SF_OPEN;
        uint8_t *b = out + length;
        b[0] = rec->protocolVersion;
        b[1] = rec->zipVersion;
        PutU16(b + 2, rec->service);
        memcpy(b + 4, rec->localName, 16);
        memcpy(b + 20, rec->remoteName, 16);
        b[36] = rec->serviceOption;
        PutU16(b + 37, SESSION_FRAME_PAYLOAD);
        length += OPEN_BLOCK_SIZE;
    }
    if (rec->txEnd && final) {
        flags |= SF_END;
        lengthField = length;
        PutU16(out + length, rec->txLength);
        length += 2;
    }
    if (rec->txHold) {
        flags |= SF_HOLD;
        out[length++] = rec->holdValue;
    }
    if (rec->txPacked) flags |= SF_PACKED;
    if (rec->txClose && final) {
        flags |= SF_CLOSE;
        out[length++] = rec->closeCode;
        if (rec->closeCode != CLOSE_ORDERLY) {
            const char *text = rec->abortText != nullptr ? rec->abortText : "";
            size_t n = strnlen(text, ABORT_TEXT_MAX) + 1;
            if (n > ABORT_TEXT_MAX) n = ABORT_TEXT_MAX;
            memcpy(rec->txBuffer, text, n);  // the NUL too, when the text is shorter than 64
            rec->txLength = static_cast<uint16_t>(n);
            if (lengthField != 0) PutU16(out + lengthField, rec->txLength);
        }
    }
    out[0] = flags;
    return length;
}

// Header length announced by a flags byte.
uint16_t HeaderLength(uint8_t flags)
{
    uint16_t n = 1;
    if (flags & SF_OPEN) n = static_cast<uint16_t>(n + OPEN_BLOCK_SIZE);
    if (flags & SF_END) n = static_cast<uint16_t>(n + 2);
    if (flags & SF_HOLD) ++n;
    if (flags & SF_CLOSE) ++n;
    return n;
}

// Reads into area until *have reaches want; 1, or -2 (with the progress kept).
short ReceiveUpTo(int16_t id, uint8_t *area, uint16_t *have, uint16_t want)
{
    if (*have >= want) return VK_DONE;
    uint16_t got = 0;
    short rc = Session_TransportReceive(id, area + *have, static_cast<uint16_t>(want - *have), &got);
    SessionRecord *rec = Session_Record(id);
    if (rec != nullptr) *have = static_cast<uint16_t>(*have + got);
    return rc;
}

// A receive that did not complete: 0 when a non-blocking time-out stopped it and the
// session goes on, -2 otherwise.
short Later(int16_t id)
{
    SessionRecord *rec = Session_Record(id);
    return rec != nullptr && rec->wouldBlock ? 0 : VK_FAIL;
}

// The header is complete in rxHeaderBytes: take its parts.  1, or -2 for a peer with an
// older protocol.
short DecodeHeader(int16_t id, SessionRecord *rec)
{
    const uint8_t *h = rec->rxHeaderBytes;
    uint8_t flags = h[0];
    size_t at = 1;
    if (flags & SF_OPEN) {
        rec->rxOpen = 1;
        rec->peerProtocolVersion = h[at];
        if (rec->peerProtocolVersion < SESSION_PROTOCOL_VERSION) {
            Session_DebugMsg(id, "Unsupported version");
            return VK_FAIL;
        }
        uint16_t frameSize = GetU16(h + at + 37);
        if (frameSize == 0 || frameSize > SESSION_FRAME_PAYLOAD) {
            Session_DebugMsg(id, "Unsupported frame size");
            return VK_FAIL;
        }
        rec->peerZipVersion = h[at + 1];
        rec->peerService = GetU16(h + at + 2);
        memcpy(rec->peerLocalName, h + at + 4, 16);
        memcpy(rec->peerRemoteName, h + at + 20, 16);
        rec->peerServiceOption = h[at + 36];
        rec->peerFrameSize = frameSize;
        at += OPEN_BLOCK_SIZE;
    }
    rec->rxExpected = rec->peerFrameSize;
    if (flags & SF_END) {
        rec->rxEnd = 1;
        rec->rxExpected = GetU16(h + at);
        at += 2;
    }
    if (flags & SF_HOLD) {
        rec->rxHold = 1;
        rec->peerHoldByte = h[at];
        rec->peerHold = h[at];
        ++at;
    }
    if (flags & SF_PACKED) rec->rxPacked = 1;
    if (flags & SF_CLOSE) {
        rec->rxClose = 1;
        rec->peerCloseCode = h[at];
        if (rec->peerCloseCode != CLOSE_ORDERLY) {
            if (rec->rxExpected > ABORT_TEXT_MAX) rec->rxExpected = ABORT_TEXT_MAX;
            Session_DebugMsg(id, "Rx Session Aborting...");
        }
    }
    return VK_DONE;
}

bool AbortRequested() { return ABORT_Check() != 0; }

}  // namespace

short Session_SendFrame(int16_t id, uint16_t payloadLength, uint16_t final, uint8_t packed)
{
    SessionRecord *rec = Session_Record(id);
    if (rec == nullptr) return VK_FAIL;
    if (!rec->aborting && Session_TransportFrameWaiting(rec)) {
        Session_BugDebugMsg(id, "1.SwIsReceive = 1");
        SessionFrame frame;
        // A non-blocking time-out here fails the send without a text of its own: the
        // layer that asked for the send reports it.
        if (Session_ReceiveFrame(id, &frame) != VK_DONE) return VK_FAIL;
        rec = Session_Record(id);
        if (rec == nullptr) return VK_FAIL;
    }
    rec->txLength = payloadLength;
    Session_BugDebugMsg(id, "1.SendFlags");
    rec->txPacked = packed;
    uint8_t header[HEADER_AREA];
    size_t headerLength = BuildHeader(rec, final, header);
    memmove(rec->txBuffer + headerLength, rec->txBuffer, rec->txLength);
    memcpy(rec->txBuffer, header, headerLength);
    rec->txLength = static_cast<uint16_t>(rec->txLength + headerLength);
    Session_BugDebugMsg(id, "1.SwSend");
    if (Session_TransportSend(id, rec->txBuffer, rec->txLength) != VK_DONE) return VK_FAIL;
    rec = Session_Record(id);
    if (rec == nullptr) return VK_FAIL;
    if (rec->txEnd && final) {
        Session_TransportEndOfMessage(id);
        rec->turn = TURN_RECEIVE;
    }
    if (final) ClearSendFlags(rec);
    return VK_DONE;
}

void Session_ForgetPartial(SessionRecord *rec)
{
    rec->rxResuming = 0;
    rec->readPending = 0;
    Session_TransportForgetInput(rec);
}

short Session_ReceiveFrame(int16_t id, SessionFrame *frame)
{
    SessionRecord *rec = Session_Record(id);
    if (rec == nullptr) return VK_FAIL;
    if (!rec->rxResuming) {
        ClearReceiveFlags(rec);
        Session_BugDebugMsg(id, "2.ReceiveFlags");
        rec->rxHeaderHave = rec->rxPayloadHave = 0;
        rec->rxHeaderDone = 0;
    }
    rec->rxResuming = 1;
    if (!rec->rxHeaderDone) {
        if (ReceiveUpTo(id, rec->rxHeaderBytes, &rec->rxHeaderHave, 1) != VK_DONE) return Later(id);
        uint16_t length = HeaderLength(rec->rxHeaderBytes[0]);
        if (ReceiveUpTo(id, rec->rxHeaderBytes, &rec->rxHeaderHave, length) != VK_DONE) return Later(id);
        rec->rxHeaderDone = 1;
        if (DecodeHeader(id, rec) != VK_DONE) {
            rec->rxResuming = 0;
            return VK_FAIL;
        }
        Session_BugDebugMsg(id, "2.SwReceive");
    }
    if (rec->rxExpected > SESSION_FRAME_PAYLOAD) {
        // No frame carries more than 256 payload bytes: the stream has lost its footing.
        Session_Fail(id, Session_Text(VK_TEXT_HARDWARE));
        return VK_FAIL;
    }
    if (ReceiveUpTo(id, rec->rxBuffer, &rec->rxPayloadHave, rec->rxExpected) != VK_DONE) return Later(id);
    rec->rxResuming = 0;
    if (rec->rxClose && rec->peerCloseCode != CLOSE_ORDERLY) {
        char text[ABORT_TEXT_MAX + 1] = {};
        memcpy(text, rec->rxBuffer, rec->rxExpected);
        Session_Fail(id, text);  // the peer's reason
        return VK_FAIL;
    }
    frame->payload = rec->rxBuffer;
    frame->length = rec->rxExpected;
    frame->final = rec->rxEnd;
    frame->packed = rec->rxPacked;
    return VK_DONE;
}

void Session_AwaitDisconnect(int16_t id)
{
    int64_t start = Platform_Time();
    for (;;) {
        SessionRecord *rec = Session_Record(id);
        if (rec == nullptr) return;
        if (!Session_TransportConnected(rec)) return;
        if (Platform_Time() - start > ABORT_DISCONNECT_SECONDS) return;
        if (AbortRequested()) return;
        Platform_SleepMs(PLATFORM_POLL_MS);
    }
}

short Session_SendAbort(int16_t id, uint8_t code, const char *text)
{
    SessionRecord *rec = Session_Record(id);
    if (rec == nullptr) return VK_FAIL;
    if (rec->aborting) return VK_DONE;
    rec->turn = TURN_SEND;
    rec->aborting = 1;
    rec->txClose = 1;
    rec->txEnd = 1;
    rec->closeCode = code;
    rec->abortText = text;
    short r = Session_SendFrame(id, 0, 1, 0);
    Session_DebugMsg(id, "Tx Session Aborting...");
    Session_AwaitDisconnect(id);
    if (r != VK_DONE) return r;
    Session_Fail(id, code == CLOSE_HOST_ABORT ? text : Session_Text(VK_TEXT_ABORTED));
    return VK_DONE;
}
