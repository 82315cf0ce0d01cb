// Decompressor contexts: incoming frames joined and decoded into reads of exact size.
#include <algorithm>
#include <cstring>

#include "session/frame_io.h"
#include "varnek.h"
#include "zip/zip_internal.h"

namespace {

// Where a context stands in the message it is receiving.
enum class RxState : uint8_t {
    Idle,      // the next call begins a message
    Held,      // the message's first frame is here, received by an earlier call
    Decoding,  // a compressed message: the decoder has started (primer bytes may remain)
    Copying,   // a plain message
};

struct UnzipCtx {
    uint16_t sessionId;
    uint16_t frameSize;        // no frame may carry more payload
    uint16_t available;        // a work area exists (0 for good once a message began at version 0)
    uint8_t messageVersion;
    RxState state;
    uint8_t packed;            // the message's frames are compressed: its first frame decides
    uint8_t lastFrame;         // the frame received last ends the message
    uint8_t ended;             // the last frame is used up
    uint8_t holding;           // a decoded byte is held back for the next call
    uint8_t heldByte;
    uint8_t primerLeft;        // primer bytes still to be dropped
    uint8_t starved;           // the next frame was not there in time (non-blocking)
    uint8_t broken;            // a frame did not belong to the message
    int16_t readIndex;
    int16_t frameLength;
    int16_t delivered;         // bytes written to the destination in this call
    int16_t requested;
    const uint8_t *frameData;  // the payload of the frame in hand, where the session keeps it
    uint8_t *destination;
    UnzipWork *work;
    UnzipCtx *next;

    ZipResult ReceiveFrame();
    int GetCode(uint8_t &byte);
    int PutData(uint8_t byte);
    // While the message's last frame is in hand a call stops only once it holds the byte
    // after its request, or the message has ended: the call that delivers the final
    // byte then reports the end.
    bool Full() const { return delivered >= requested && (!lastFrame || holding); }
    bool Holding() const { return holding != 0; }
    void Release() {}  // a held byte is placed at the start of the call that takes it
    bool Short() const { return delivered < requested; }
    // Plain room stops one byte short of the request: the last byte of a call may have
    // to be held back, which only PutData does.
    bool Spans(const uint8_t *&code, int &codeLeft, uint8_t *&out, int &room) const
    {
        if (primerLeft != 0 || holding) return false;
        code = frameData + readIndex;
        codeLeft = frameLength - readIndex;
        out = destination + delivered;
        room = requested - delivered - 1;
        return codeLeft > 0 && room > 0;
    }
    void Consumed(int code, int produced)
    {
        readIndex = static_cast<int16_t>(readIndex + code);
        delivered = static_cast<int16_t>(delivered + produced);
    }
};

Registry<UnzipCtx> decompressors;

// Takes the session's next frame.  After ZIP_TRANSPORT the session, and this context
// with it, may be gone: nothing of the context is touched then.
ZipResult UnzipCtx::ReceiveFrame()
{
    SessionFrame frame{};
    short rc = Session_ReceiveFrame(static_cast<int16_t>(sessionId), &frame);
    if (rc == 0) {
        starved = 1;
        return ZIP_FAILED;  // nothing now; the decoder keeps its place
    }
    if (rc != 1) return ZIP_TRANSPORT;
    uint8_t kind = frame.packed != 0 ? 1 : 0;
    if (frame.length > frameSize || (state != RxState::Idle && kind != packed)) {
        ZIP_Trace(sessionId, "UZip frame does not belong to the message");
        broken = 1;
        return ZIP_FAILED;
    }
    packed = kind;
    lastFrame = frame.final == 1 ? 1 : 0;
    frameData = frame.payload;
    readIndex = 0;
    frameLength = static_cast<int16_t>(frame.length);
    return ZIP_OK;
}

// The next code byte: LZ_CODE_READY; LZ_CODE_ENDED at the end of the message (a last
// frame that is empty ends it too); LZ_CODE_NONE for an empty frame inside it, a frame
// that does not belong or none in time; LZ_CODE_BROKEN when the transport failed.
int UnzipCtx::GetCode(uint8_t &byte)
{
    if (readIndex == frameLength) {
        if (lastFrame) {
            ended = 1;
            return LZ_CODE_ENDED;
        }
        ZipResult rc = ReceiveFrame();
        if (rc != ZIP_OK) return rc == ZIP_TRANSPORT ? LZ_CODE_BROKEN : LZ_CODE_NONE;
        if (frameLength == 0 && lastFrame) {
            ended = 1;
            return LZ_CODE_ENDED;
        }
    }
    if (readIndex >= frameLength) return LZ_CODE_NONE;
    byte = frameData[readIndex++];
    return LZ_CODE_READY;
}

// The single place that writes to the destination: never past the request, and one
// byte beyond it only into the held byte.
int UnzipCtx::PutData(uint8_t byte)
{
    if (primerLeft > 0) {
        --primerLeft;
        return ZIP_OK;
    }
    if (delivered < requested) {
        destination[delivered++] = byte;
        return ZIP_OK;
    }
    if (lastFrame && !holding) {
        heldByte = byte;
        holding = 1;
        return ZIP_OK;
    }
    ZIP_Trace(sessionId, "UZIP try to write beyond buffer's end");
    return ZIP_FAILED;
}

void FreeContext(UnzipCtx *ctx)
{
    Mem_Free("UNZIP", ctx->work);
    Mem_Free("UNZIP", ctx);
}

// Begins a message by taking its first frame: ZIP_OK (state Held), ZIP_ENDED for an
// empty message, or a failure (the start stays pending).
ZipResult BeginMessage(UnzipCtx &ctx)
{
    ctx.readIndex = ctx.frameLength = 0;
    ctx.lastFrame = ctx.ended = ctx.holding = ctx.heldByte = ctx.primerLeft = 0;
    if (ZIP_GetVersion(ctx.sessionId, &ctx.messageVersion) != ZIP_OK) {
        ZIP_Trace(ctx.sessionId, "Error: UZip Session_Id not Found");
        return ZIP_FAILED;
    }
    if (ctx.messageVersion == 0) {
        ZIP_Trace(ctx.sessionId, "Receive without compression");
        ctx.available = 0;
    }
    ZipResult rc = ctx.ReceiveFrame();
    if (rc != ZIP_OK) return rc;
    if (ctx.frameLength == 0) {
        if (ctx.lastFrame) return ZIP_ENDED;  // an empty message
        return ZIP_FAILED;
    }
    if (ctx.packed && ctx.available) {
        if (ctx.work == nullptr) {
            ZIP_Trace(ctx.sessionId, "UZip Memory Allocation Error");
            return ZIP_FAILED;
        }
        memset(ctx.work, 0, sizeof *ctx.work);
    }
    ctx.state = RxState::Held;
    return ZIP_OK;
}

// A plain message: bytes copied from the frames.
ZipResult Copy(UnzipCtx &ctx)
{
    int rc = LZ_CODE_READY;
    while (ctx.delivered < ctx.requested) {
        int run = std::min(ctx.frameLength - ctx.readIndex, ctx.requested - ctx.delivered);
        if (run > 0) {  // what the frame at hand holds of the request, in one copy
            memcpy(ctx.destination + ctx.delivered, ctx.frameData + ctx.readIndex, static_cast<size_t>(run));
            ctx.readIndex = static_cast<int16_t>(ctx.readIndex + run);
            ctx.delivered = static_cast<int16_t>(ctx.delivered + run);
            continue;
        }
        uint8_t byte = 0;
        rc = ctx.GetCode(byte);
        if (rc != LZ_CODE_READY) break;
        ctx.PutData(byte);
    }
    if (rc == LZ_CODE_BROKEN) return ZIP_TRANSPORT;
    if (ctx.starved) return ZIP_WOULD_BLOCK;
    if (ctx.broken) return ZIP_FAILED;
    if (rc == LZ_CODE_ENDED || (ctx.lastFrame && ctx.readIndex == ctx.frameLength)) return ZIP_ENDED;
    return rc == LZ_CODE_READY ? ZIP_OK : ZIP_FAILED;
}

// A compressed message: the decoder runs until the request is met or the stream ends.
ZipResult Decode(UnzipCtx &ctx)
{
    if (ctx.requested == 0) return ZIP_OK;
    if (ctx.state == RxState::Held) {
        ZIP_DecodeStart(*ctx.work);
        ctx.primerLeft = LZ_PRIMER;
        ctx.state = RxState::Decoding;
    }
    int rc = ZIP_DecodeRun(*ctx.work, ctx);
    if (rc == LZ_RUN_BROKEN) return ZIP_TRANSPORT;
    if (ctx.starved) return ZIP_WOULD_BLOCK;
    if (ctx.broken || rc == LZ_RUN_REFUSED) return ZIP_FAILED;
    if (ctx.delivered != ctx.requested) ZIP_Trace(ctx.sessionId, "Receive do not much to retrieved");
    if (ctx.ended) return ZIP_ENDED;
    return ctx.delivered == ctx.requested ? ZIP_OK : ZIP_FAILED;
}

ZipResult UnzipPart(uint16_t sessionId, uint8_t *destination, uint16_t *count, uint8_t *last)
{
    uint16_t wanted = *count;
    *count = 0;
    *last = 0;
    UnzipCtx *ctx = decompressors.Find(sessionId);
    if (ctx == nullptr) {
        ZIP_Trace(sessionId, "Error: UZip Session_Id not Found");
        return ZIP_FAILED;
    }
    ctx->destination = destination;
    ctx->delivered = 0;
    ctx->requested = static_cast<int16_t>(wanted);
    ctx->starved = 0;
    ctx->broken = 0;
    if (ctx->state == RxState::Idle) {
        ZipResult rc = BeginMessage(*ctx);
        if (rc == ZIP_TRANSPORT) return rc;
        if (rc == ZIP_ENDED) {
            *last = 1;
            return ZIP_ENDED;
        }
        if (rc != ZIP_OK) return ctx->starved ? ZIP_WOULD_BLOCK : rc;
    }
    uint8_t version = 0;
    if (ZIP_GetVersion(sessionId, &version) != ZIP_OK) {
        ZIP_Trace(sessionId, "Error: UZip Session_Id not Found");
        return ZIP_FAILED;
    }
    if (version != ctx->messageVersion) {
        ZIP_Trace(sessionId, "Incorrect unzip version");
        return ZIP_VERSION_CHANGED;
    }
    bool compressed = ctx->packed && ctx->available;
    if (ctx->state == RxState::Held && !compressed) ctx->state = RxState::Copying;
    if (ctx->holding && ctx->requested > 0) {
        destination[0] = ctx->heldByte;
        ctx->delivered = 1;
        ctx->holding = 0;
    }
    ZipResult result = compressed ? Decode(*ctx) : Copy(*ctx);
    if (result == ZIP_TRANSPORT) return result;
    *count = static_cast<uint16_t>(ctx->delivered);
    if (result == ZIP_ENDED) {
        *last = 1;
        ctx->state = RxState::Idle;
    }
    return result;
}

}  // namespace

void ZIP_UnzipReset() { decompressors.Reset(); }

int16_t ZIP_UnzipCreate(uint16_t sessionId, uint16_t capacity)
{
    if (!ZIP_EnsureDef(sessionId)) {
        ZIP_Trace(sessionId, "UZip Memory Allocation Error");
        return ZIP_FAILED;
    }
    auto *ctx = static_cast<UnzipCtx *>(Mem_Malloc("UNZIP", sizeof(UnzipCtx)));
    if (ctx == nullptr) {
        ZIP_Trace(sessionId, "UZip Memory Allocation Error");
        return ZIP_FAILED;
    }
    memset(ctx, 0, sizeof *ctx);
    ctx->sessionId = sessionId;
    ctx->frameSize = capacity;
    ctx->messageVersion = ZIP_DEFAULT_VERSION;
    ctx->state = RxState::Idle;
    decompressors.Append(ctx);
    ctx->work = static_cast<UnzipWork *>(Mem_Malloc("UNZIP", sizeof(UnzipWork)));
    if (ctx->work != nullptr) {
        ctx->available = 1;
        memset(ctx->work, 0, sizeof *ctx->work);
    } else {
        ctx->available = 0;
        ctx->messageVersion = 0;
        ZIP_SetVersion(sessionId, 0);
    }
    if (ZIP_GetVersion(sessionId, &ctx->messageVersion) != ZIP_OK) {
        ZIP_Trace(sessionId, "Error: UZip Session_Id not Found");
        ZIP_Trace(sessionId, "UZip Memory Allocation Error");
        return ZIP_FAILED;
    }
    return ZIP_OK;
}

int16_t ZIP_UnzipDelete(uint16_t sessionId)
{
    UnzipCtx *ctx = decompressors.Unlink(sessionId);
    if (ctx != nullptr) FreeContext(ctx);
    return ZIP_RemoveDef(sessionId);
}

int16_t ZIP_UnzipFrame(uint16_t sessionId, uint8_t *destination, uint16_t *count, uint8_t *last)
{
    uint16_t wanted = *count;
    uint16_t total = 0;
    for (;;) {
        uint16_t part = wanted - total > ZIP_LONGEST_READ ? ZIP_LONGEST_READ : static_cast<uint16_t>(wanted - total);
        uint16_t got = part;
        int16_t rc = UnzipPart(sessionId, destination + total, &got, last);
        total = static_cast<uint16_t>(total + got);
        *count = total;
        if (rc != ZIP_OK || total >= wanted) return rc;
    }
}
