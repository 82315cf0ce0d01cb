// Session frames: header build and decode, whole frames sent and received through the
// session's transport (transport.h), and the abort handshake.
#include <cstring>

#include "platform/platform.h"
#include "session/session.h"
#include "transport/abort.h"

namespace {

constexpr size_t ABORT_TEXT_MAX = 64;
constexpr size_t HEADER_AREA = 64;
constexpr int ABORT_DISCONNECT_SECONDS = 10;

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
    FrameHeader h{};
    if (rec->txOpen) {
        h.flags |= SF_OPEN;
        h.protocolVersion = rec->protocolVersion;
        h.zipVersion = rec->zipVersion;
        h.service = rec->service;
        memcpy(h.localName, rec->localName, FH_NAME_SIZE);
        memcpy(h.remoteName, rec->remoteName, FH_NAME_SIZE);
        h.serviceOption = rec->serviceOption;
        h.frameSize = SESSION_FRAME_PAYLOAD;
    }
    if (rec->txHold) {
        h.flags |= SF_HOLD;
        h.hold = rec->holdValue;
    }
    if (rec->txPacked) h.flags |= SF_PACKED;
    if (rec->txClose && final) {
        h.flags |= SF_CLOSE;
        h.closeCode = rec->closeCode;
        if (rec->closeCode != CLOSE_ORDERLY) {
            const char *text = rec->abortText != nullptr ? rec->abortText : "";
            size_t n = strnlen(text, ABORT_TEXT_MAX) + 1;
            if (n > ABORT_TEXT_MAX) n = ABORT_TEXT_MAX;
            memcpy(rec->txBuffer, text, n);  // the NUL too, when the text is shorter than 64
            rec->txLength = static_cast<uint16_t>(n);
        }
    }
    if (rec->txEnd && final) {
        h.flags |= SF_END;
        h.payloadLength = rec->txLength;
    }
    return FrameHeader_Build(&h, out);
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
    FrameHeader h;
    FrameHeader_Decode(rec->rxHeaderBytes, &h);
    if (h.flags & SF_OPEN) {
        rec->rxOpen = 1;
        rec->peerProtocolVersion = h.protocolVersion;
        if (rec->peerProtocolVersion < SESSION_PROTOCOL_VERSION) {
            Session_DebugMsg(id, "Unsupported version");
            return VK_FAIL;
        }
        if (h.frameSize == 0 || h.frameSize > SESSION_FRAME_PAYLOAD) {
            Session_DebugMsg(id, "Unsupported frame size");
            return VK_FAIL;
        }
        rec->peerZipVersion = h.zipVersion;
        rec->peerService = h.service;
        memcpy(rec->peerLocalName, h.localName, FH_NAME_SIZE);
        memcpy(rec->peerRemoteName, h.remoteName, FH_NAME_SIZE);
        rec->peerServiceOption = h.serviceOption;
        rec->peerFrameSize = h.frameSize;
    }
    rec->rxExpected = rec->peerFrameSize;
    if (h.flags & SF_END) {
        rec->rxEnd = 1;
        rec->rxExpected = h.payloadLength;
    }
    if (h.flags & SF_HOLD) {
        rec->rxHold = 1;
        rec->peerHoldByte = h.hold;
        rec->peerHold = h.hold;
    }
    if (h.flags & SF_PACKED) rec->rxPacked = 1;
    if (h.flags & SF_CLOSE) {
        rec->rxClose = 1;
        rec->peerCloseCode = h.closeCode;
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
        uint16_t length = static_cast<uint16_t>(FrameHeader_Length(rec->rxHeaderBytes[0]));
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
