// Decompressor contexts: incoming frames joined and decoded into reads of exact size.
#include <cstring>

#include "session/session.h"
#include "varnek.h"
#include "zip/zip_internal.h"

namespace {

struct UnzipCtx {
    uint16_t sessionId;
    uint16_t frameSize;
    uint16_t available;        // a work area exists (0 for good once a message began at version 0)
    uint8_t messageVersion;
    uint16_t frameCompressed;  // compressed flag of the frame received last
    uint16_t messageStart;     // the next call begins a message (compressed: until the primer is out)
    uint8_t lastFrame;         // the frame received last ends the message
    uint8_t ended;             // the last frame is used up
    uint8_t holding;           // a decoded byte is held back for the next call
    uint8_t heldByte;
    uint8_t releasing;
    uint8_t firstFrameHeld;    // the message's first frame is here, received by an earlier call
    uint8_t starved;           // the next frame was not there in time (non-blocking)
    int16_t readIndex;
    int16_t delivered;
    int16_t frameLength;
    int16_t requested;
    uint8_t *frameData;
    uint8_t *destination;
    UnzipWork *work;
    UnzipCtx *next;

    int ReceiveFrame();
    int GetCode(uint8_t &byte);
    int PeekCode();
    int Limit() const { return lastFrame ? requested + 1 : requested; }
    int PutData(uint8_t byte);
    bool Full() const { return delivered >= Limit(); }
    bool Holding() const { return holding != 0; }
    void Release()
    {
        releasing = 1;
        PutData(0);
    }
    bool Short() const { return delivered < requested; }
    // Copy path: while every byte would go straight from the frame to the destination,
    // moves a run by memcpy, counting it in `taken`, the loop's count of bytes taken
    // (less one, which the loop adds).  False where GetCode and PutData must decide
    // byte by byte: at a frame's end, a held byte, the primer.
    bool PlainRun(int16_t &taken)
    {
        if (messageStart || holding || delivered != taken || readIndex >= frameLength) return false;
        int n = frameLength - readIndex < requested - taken ? frameLength - readIndex : requested - taken;
        memcpy(destination + delivered, frameData + readIndex, static_cast<size_t>(n));
        readIndex = static_cast<int16_t>(readIndex + n);
        delivered = static_cast<int16_t>(delivered + n);
        taken = static_cast<int16_t>(taken + n - 1);
        return true;
    }
    // Plain room stops one byte short of the request: the last byte of a call may have
    // to be held back, which only PutData does.
    bool Spans(const uint8_t *&code, int &codeLeft, uint8_t *&out, int &room) const
    {
        if (messageStart || holding || releasing) return false;
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

int UnzipCtx::ReceiveFrame()
{
    uint16_t length = 0;
    uint16_t final = 0;
    uint16_t packed = 0;
    short rc = Session_ReceiveFrame(static_cast<int16_t>(sessionId), &length, &final, &packed);
    if (rc == 0) {
        starved = 1;
        return ZIP_FAILED;  // nothing now; the decoder keeps its place
    }
    if (rc != 1) return ZIP_TRANSPORT;
    frameCompressed = packed;
    lastFrame = final == 1 ? 1 : 0;
    readIndex = 0;
    frameLength = static_cast<int16_t>(length);
    return ZIP_OK;
}

int UnzipCtx::GetCode(uint8_t &byte)
{
    if (readIndex == frameLength) {
        if (lastFrame) {
            ended = 1;
            return -4;
        }
        int rc = ReceiveFrame();
        if (rc != ZIP_OK) return rc;
    }
    if (readIndex >= frameLength) return ZIP_FAILED;
    byte = frameData[readIndex++];
    return ZIP_OK;
}

// The first payload byte of the message, looked at without taking it.  After
// ZIP_TRANSPORT the session, and this context with it, is gone.
int UnzipCtx::PeekCode()
{
    if (readIndex == frameLength) {
        if (lastFrame) return ZIP_FAILED;
        int rc = ReceiveFrame();
        if (rc != ZIP_OK) return rc;
    }
    return readIndex < frameLength ? ZIP_OK : ZIP_FAILED;
}

int UnzipCtx::PutData(uint8_t byte)
{
    if (delivered >= Limit()) {
        ZIP_Trace(sessionId, "UZIP try to write beyond buffer's end");
        return ZIP_FAILED;
    }
    if (!messageStart) {
        if (!lastFrame) {
            destination[delivered++] = byte;
        } else if (delivered == 0) {
            if (holding) {
                destination[0] = heldByte;
                delivered = 1;
                holding = 0;
            }
            if (delivered == requested && !ended) {
                heldByte = byte;
                holding = 1;
                ++delivered;
            }
            if (!releasing && delivered < requested) destination[delivered++] = byte;
        } else if (delivered == requested) {
            heldByte = byte;
            holding = 1;
            ++delivered;
        } else {
            destination[delivered++] = byte;
        }
    } else {
        ++delivered;  // a primer byte
    }
    if (available && frameCompressed && messageStart && delivered >= LZ_PRIMER) {
        messageStart = 0;
        delivered = static_cast<int16_t>(delivered - LZ_PRIMER);
        requested = static_cast<int16_t>(requested - LZ_PRIMER);
    }
    return ZIP_OK;
}

void FreeContext(UnzipCtx *ctx)
{
    Mem_Free("UNZIP", ctx->work);
    Mem_Free("UNZIP", ctx);
}

// Begins a message: 0, or a failure result (the start stays pending; after
// ZIP_TRANSPORT the context is gone).
int16_t BeginMessage(UnzipCtx &ctx)
{
    if (!ctx.firstFrameHeld) {
        ctx.readIndex = ctx.frameLength = 0;
        ctx.lastFrame = ctx.ended = ctx.holding = ctx.heldByte = 0;
    }
    if (ZIP_GetVersion(ctx.sessionId, &ctx.messageVersion) != ZIP_OK) {
        ZIP_Trace(ctx.sessionId, "Error: UZip Session_Id not Found");
        return ZIP_FAILED;
    }
    if (ctx.messageVersion == 0) {
        ZIP_Trace(ctx.sessionId, "Receive without compression");
        ctx.available = 0;
        ctx.frameCompressed = 0;
    } else {
        if (!ctx.firstFrameHeld) {
            int rc = ctx.PeekCode();
            if (rc != ZIP_OK) return static_cast<int16_t>(rc);
        }
        ctx.firstFrameHeld = 1;
        if (ctx.frameCompressed) {
            if (ctx.work == nullptr) {
                ZIP_Trace(ctx.sessionId, "UZip Memory Allocation Error");
                return ZIP_FAILED;
            }
            memset(ctx.work, 0, sizeof *ctx.work);
        }
    }
    if (!ctx.frameCompressed) {
        ctx.messageStart = 0;
        ctx.firstFrameHeld = 0;
    }
    return ZIP_OK;
}

int16_t UnzipPart(uint16_t sessionId, uint8_t *frameData, uint8_t *destination, uint16_t *count, uint8_t *last)
{
    uint16_t wanted = *count;
    *count = 0;
    *last = 0;
    UnzipCtx *ctx = decompressors.Find(sessionId);
    if (ctx == nullptr) {
        ZIP_Trace(sessionId, "Error: UZip Session_Id not Found");
        return ZIP_FAILED;
    }
    ctx->frameData = frameData;
    ctx->destination = destination;
    ctx->delivered = 0;
    ctx->requested = static_cast<int16_t>(wanted);
    ctx->releasing = 0;
    ctx->starved = 0;
    if (ctx->messageStart) {
        int16_t rc = BeginMessage(*ctx);
        if (rc == ZIP_TRANSPORT) return rc;
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
    int16_t result = ZIP_OK;
    if (!ctx->frameCompressed || !ctx->available) {
        for (int16_t i = 0; i < ctx->requested; ++i) {
            if (ctx->PlainRun(i)) continue;
            uint8_t byte = 0;
            int rc = ctx->GetCode(byte);
            if (rc == ZIP_TRANSPORT) return ZIP_TRANSPORT;  // the session is gone
            if (rc == ZIP_OK) rc = ctx->PutData(byte);
            if (rc != ZIP_OK) {
                result = static_cast<int16_t>(rc);
                break;
            }
        }
        *last = (ctx->lastFrame && ctx->readIndex == ctx->frameLength) ? 1 : 0;
        if (ctx->starved) {
            *count = static_cast<uint16_t>(ctx->delivered);
            return ZIP_WOULD_BLOCK;
        }
    } else if (ctx->requested > 0) {
        if (ctx->messageStart) {
            ZIP_DecodeStart(*ctx->work);
            ctx->firstFrameHeld = 0;
            ctx->requested = static_cast<int16_t>(ctx->requested + LZ_PRIMER);
        }
        int rc = ZIP_DecodeRun(*ctx->work, *ctx);
        if (rc == ZIP_TRANSPORT) return ZIP_TRANSPORT;
        if (ctx->starved) {
            *count = static_cast<uint16_t>(ctx->delivered);
            return ZIP_WOULD_BLOCK;
        }
        if (!ctx->ended && ctx->lastFrame) --ctx->delivered;
        if (ctx->delivered != ctx->requested || rc != 0) {
            ZIP_Trace(sessionId, "Receive do not much to retrieved");
            result = ZIP_FAILED;
        }
        *last = ctx->ended;
    }
    *count = static_cast<uint16_t>(ctx->delivered);
    if (*last) {
        ctx->messageStart = 1;
        ctx->firstFrameHeld = 0;
        result = ZIP_ENDED;
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
    ctx->messageStart = 1;
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

int16_t ZIP_UnzipFrame(uint16_t sessionId, uint8_t *frameData, uint8_t *destination, uint16_t *count,
                       uint8_t *last)
{
    uint16_t wanted = *count;
    uint16_t total = 0;
    for (;;) {
        uint16_t part = wanted - total > ZIP_LONGEST_READ ? ZIP_LONGEST_READ : static_cast<uint16_t>(wanted - total);
        uint16_t got = part;
        int16_t rc = UnzipPart(sessionId, frameData, destination + total, &got, last);
        total = static_cast<uint16_t>(total + got);
        *count = total;
        if (rc != ZIP_OK || total >= wanted) return rc;
    }
}
