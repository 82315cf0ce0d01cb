// Compressor contexts: each outgoing message coded (or copied) into frames.
#include <cstring>

#include "session/frame_io.h"
#include "varnek.h"
#include "zip/zip_internal.h"

namespace {

struct ZipCtx {
    uint16_t sessionId;
    uint16_t available;      // compression possible for the current message
    uint8_t messageVersion;  // the session's version when the message began
    uint16_t compressing;    // the current message goes out compressed
    uint8_t messageStart;    // the next call begins a new message
    uint8_t ending;          // the host has ended the message
    uint8_t frameSent;       // a frame of the message has gone out
    int16_t inputIndex;
    int16_t fill;            // payload bytes in the frame buffer
    int16_t inputLength;
    int16_t capacity;        // payload bytes per frame
    const uint8_t *input;
    uint8_t *frameBuffer;
    ZipWork *work;
    ZipCtx *next;

    // The encoder's view of the context.
    int InputLeft() const { return inputLength - inputIndex; }
    uint8_t NextInput() { return input[inputIndex++]; }
    const uint8_t *InputSpan() const { return input + inputIndex; }
    void InputTaken(int n) { inputIndex = static_cast<int16_t>(inputIndex + n); }
    bool Ending() const { return ending != 0; }
    int PutCodes(const uint8_t *code, int n);
    int PutPlain();
    int EndMessage();
};

Registry<ZipCtx> compressors;

ZipResult SendFrame(const ZipCtx &ctx, int16_t length, uint16_t final, uint16_t packed)
{
    int16_t id = static_cast<int16_t>(ctx.sessionId);
    return Session_SendFrame(id, static_cast<uint16_t>(length), final, static_cast<uint8_t>(packed)) == 1 ? ZIP_OK
                                                                                                         : ZIP_TRANSPORT;
}

// Into frames by memcpy; a full frame goes out only when the next byte is at hand.  A
// failed send may have released the session and freed this context: nothing of it is
// touched after one, here or by the callers.
int ZipCtx::PutCodes(const uint8_t *code, int n)
{
    while (n > 0) {
        if (fill == capacity) {
            frameSent = 1;
            if (SendFrame(*this, fill, 0, compressing) != ZIP_OK) return ZIP_TRANSPORT;
            fill = 0;
        }
        const int part = n < capacity - fill ? n : capacity - fill;
        memcpy(frameBuffer + fill, code, static_cast<size_t>(part));
        fill = static_cast<int16_t>(fill + part);
        code += part;
        n -= part;
    }
    return ZIP_OK;
}

// The copy path: the rest of the piece into frames.
int ZipCtx::PutPlain()
{
    if (PutCodes(input + inputIndex, inputLength - inputIndex) != ZIP_OK) return ZIP_TRANSPORT;
    inputIndex = inputLength;
    return ZIP_OK;
}

int ZipCtx::EndMessage()
{
    messageStart = 1;
    int32_t raw = work != nullptr ? static_cast<int32_t>(work->entered) - LZ_PRIMER : 0;
    int16_t rc;
    if (raw > 0 && !frameSent && raw < fill) {
        // The whole stream is still here and longer than the message: send the message.
        frameSent = 1;
        compressing = 0;
        memcpy(frameBuffer, work->ring, static_cast<size_t>(raw));
        rc = SendFrame(*this, static_cast<int16_t>(raw), 1, 0);
    } else {
        rc = SendFrame(*this, fill, 1, compressing);
    }
    if (rc != ZIP_OK) return ZIP_TRANSPORT;
    fill = 0;
    return ZIP_OK;
}

void FreeContext(ZipCtx *ctx)
{
    Mem_Free("ZIP", ctx->work);
    Mem_Free("ZIP", ctx);
}

void BeginMessage(ZipCtx &ctx, bool endsAtOnce)
{
    ctx.messageStart = 0;
    ctx.ending = 0;
    ctx.fill = 0;
    if (ZIP_GetVersion(ctx.sessionId, &ctx.messageVersion) != ZIP_OK) {
        ZIP_Trace(ctx.sessionId, "Error: Zip Session_Id not Found");
    }
    if (ctx.work != nullptr) {
        ZIP_EncodeClear(*ctx.work);
    } else {
        ctx.available = 0;
        ctx.messageVersion = 0;
        ZIP_SetVersion(ctx.sessionId, 0);
    }
    ctx.available = (ctx.work != nullptr && ctx.messageVersion != 0) ? 1 : 0;
    ctx.compressing = ctx.available;
    ctx.frameSent = 0;
    if (endsAtOnce) ctx.compressing = 0;
}

ZipResult ZipPart(uint16_t sessionId, const uint8_t *data, uint16_t length, uint8_t *frameBuffer)
{
    ZipCtx *ctx = compressors.Find(sessionId);
    if (ctx == nullptr) {
        ZIP_Trace(sessionId, "Error: Zip Session_Id not Found");
        return ZIP_FAILED;
    }
    bool flush = data == nullptr && length == 0;
    ctx->inputIndex = 0;
    ctx->inputLength = static_cast<int16_t>(length);
    ctx->input = data;
    ctx->frameBuffer = frameBuffer;
    if (ctx->messageStart) BeginMessage(*ctx, flush);
    if (flush) ctx->ending = 1;
    uint8_t version = 0;
    if (ZIP_GetVersion(sessionId, &version) != ZIP_OK) {
        ZIP_Trace(sessionId, "Error: Zip Session_Id not Found");
        return ZIP_FAILED;
    }
    if (version != ctx->messageVersion) {
        ZIP_Trace(sessionId, "Transfer without compression");
        return ZIP_VERSION_CHANGED;
    }
    if (!ctx->compressing || !ctx->available) {
        if (ctx->PutPlain() != ZIP_OK) return ZIP_FAILED;
        if (ctx->ending && ctx->EndMessage() != ZIP_OK) return ZIP_FAILED;
        return ZIP_OK;
    }
    if (ctx->work->entered == 0) ZIP_EncodeStart(*ctx->work);
    while (ctx->inputIndex < ctx->inputLength) {
        if (ZIP_EncodeStep(*ctx->work, *ctx) < 0) return ZIP_FAILED;
    }
    if (ctx->ending) {
        while (ctx->work->lookahead > 0) {
            if (ZIP_EncodeStep(*ctx->work, *ctx) < 0) return ZIP_FAILED;
        }
    }
    return ZIP_OK;
}

}  // namespace

void ZIP_ZipReset() { compressors.Reset(); }

int16_t ZIP_ZipCreate(uint16_t sessionId, int16_t capacity)
{
    if (!ZIP_EnsureDef(sessionId)) {
        ZIP_Trace(sessionId, "Zip Memory Allocation Error");
        return ZIP_FAILED;
    }
    auto *ctx = static_cast<ZipCtx *>(Mem_Malloc("ZIP", sizeof(ZipCtx)));
    if (ctx == nullptr) {
        ZIP_Trace(sessionId, "Zip Memory Allocation Error");
        return ZIP_FAILED;
    }
    memset(ctx, 0, sizeof *ctx);
    ctx->sessionId = sessionId;
    ctx->capacity = capacity;
    ctx->messageStart = 1;
    ctx->messageVersion = ZIP_DEFAULT_VERSION;
    compressors.Append(ctx);
    ctx->work = static_cast<ZipWork *>(Mem_Malloc("ZIP", sizeof(ZipWork)));
    if (ctx->work != nullptr) {
        ctx->available = 1;
        memset(ctx->work, 0, sizeof *ctx->work);
    } else {
        ctx->available = 0;
        ctx->messageVersion = 0;
        ZIP_SetVersion(sessionId, 0);
    }
    return ZIP_OK;
}

int16_t ZIP_ZipDelete(uint16_t sessionId)
{
    ZipCtx *ctx = compressors.Unlink(sessionId);
    if (ctx != nullptr) FreeContext(ctx);
    return ZIP_RemoveDef(sessionId);
}

int16_t ZIP_ZipFrame(uint16_t sessionId, const uint8_t *data, uint16_t length, uint8_t *frameBuffer)
{
    if (data == nullptr) return length == 0 ? ZipPart(sessionId, nullptr, 0, frameBuffer) : ZIP_FAILED;
    while (length > ZIP_LONGEST_PART) {
        int16_t rc = ZipPart(sessionId, data, ZIP_LONGEST_PART, frameBuffer);
        if (rc != ZIP_OK) return rc;
        data += ZIP_LONGEST_PART;
        length = static_cast<uint16_t>(length - ZIP_LONGEST_PART);
    }
    return ZipPart(sessionId, data, length, frameBuffer);
}

int16_t ZIP_ZipFlush(uint16_t sessionId, uint8_t *frameBuffer) { return ZipPart(sessionId, nullptr, 0, frameBuffer); }

int16_t ZIP_ZipHold(uint16_t sessionId, uint8_t *frameBuffer)
{
    ZipCtx *ctx = compressors.Find(sessionId);
    if (ctx == nullptr) {
        ZIP_Trace(sessionId, "Error: Zip Session_Id not Found");
        return ZIP_FAILED;
    }
    ctx->frameBuffer = frameBuffer;
    // A full frame leaves only when more of the message is sure to follow: a compressed
    // stream always codes more bytes at its end, a plain message may end right here, and
    // its last frame must then carry these bytes (a message never ends with an empty
    // frame).
    if (ctx->messageStart || ctx->fill < ctx->capacity || !ctx->compressing) return ZIP_OK;
    ctx->frameSent = 1;
    if (SendFrame(*ctx, ctx->fill, 0, ctx->compressing) != ZIP_OK) return ZIP_FAILED;
    ctx->fill = 0;
    return ZIP_OK;
}
