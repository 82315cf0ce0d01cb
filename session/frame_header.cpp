// The session frame header: its layout in one place.
#include "session/frame_header.h"

#include <cstdio>
#include <cstring>

#include "support/bytes.h"

size_t FrameHeader_Length(uint8_t flags)
{
    size_t n = FH_FLAGS_SIZE;
    if (flags & SF_OPEN) n += FH_OPEN_SIZE;
    if (flags & SF_END) n += FH_LENGTH_SIZE;
    if (flags & SF_HOLD) n += FH_HOLD_SIZE;
    if (flags & SF_CLOSE) n += FH_CLOSE_SIZE;
    return n;
}

size_t FrameHeader_Build(const FrameHeader *h, uint8_t *out)
{
    size_t at = 0;
    out[at++] = h->flags;
    if (h->flags & SF_OPEN) {
        uint8_t *b = out + at;
        b[FH_OPEN_PROTOCOL] = h->protocolVersion;
        b[FH_OPEN_ZIP] = h->zipVersion;
        Bytes_PutBE16(b + FH_OPEN_SERVICE, h->service);
        memcpy(b + FH_OPEN_LOCAL_NAME, h->localName, FH_NAME_SIZE);
        memcpy(b + FH_OPEN_REMOTE_NAME, h->remoteName, FH_NAME_SIZE);
        b[FH_OPEN_OPTION] = h->serviceOption;
        Bytes_PutBE16(b + FH_OPEN_FRAME_SIZE, h->frameSize);
        at += FH_OPEN_SIZE;
    }
    if (h->flags & SF_END) {
        Bytes_PutBE16(out + at, h->payloadLength);
        at += FH_LENGTH_SIZE;
    }
    if (h->flags & SF_HOLD) out[at++] = h->hold;
    if (h->flags & SF_CLOSE) out[at++] = h->closeCode;
    return at;
}

size_t FrameHeader_Decode(const uint8_t *bytes, FrameHeader *h)
{
    memset(h, 0, sizeof *h);
    size_t at = 0;
    h->flags = bytes[at++];
    if (h->flags & SF_OPEN) {
        const uint8_t *b = bytes + at;
        h->protocolVersion = b[FH_OPEN_PROTOCOL];
        h->zipVersion = b[FH_OPEN_ZIP];
        h->service = Bytes_GetBE16(b + FH_OPEN_SERVICE);
        memcpy(h->localName, b + FH_OPEN_LOCAL_NAME, FH_NAME_SIZE);
        memcpy(h->remoteName, b + FH_OPEN_REMOTE_NAME, FH_NAME_SIZE);
        h->serviceOption = b[FH_OPEN_OPTION];
        h->frameSize = Bytes_GetBE16(b + FH_OPEN_FRAME_SIZE);
        at += FH_OPEN_SIZE;
    }
    if (h->flags & SF_END) {
        h->payloadLength = Bytes_GetBE16(bytes + at);
        at += FH_LENGTH_SIZE;
    }
    if (h->flags & SF_HOLD) h->hold = bytes[at++];
    if (h->flags & SF_CLOSE) h->closeCode = bytes[at++];
    return at;
}

size_t FrameHeader_FrameLength(const uint8_t *bytes, size_t have, uint16_t frameSize)
{
    if (have == 0) return FH_FLAGS_SIZE;
    size_t header = FrameHeader_Length(bytes[0]);
    if (have < header) return header;
    if (!(bytes[0] & SF_END)) return header + frameSize;
    size_t lengthAt = FH_FLAGS_SIZE + ((bytes[0] & SF_OPEN) ? FH_OPEN_SIZE : 0);
    return header + Bytes_GetBE16(bytes + lengthAt);
}

size_t FrameHeader_FlagText(uint8_t flags, char *text, size_t size)
{
    static const struct {
        uint8_t flag;
        const char *name;
    } NAMES[] = {{SF_OPEN, "OPEN"}, {SF_END, "END"}, {SF_HOLD, "HOLD"}, {SF_CLOSE, "CLOSE"}, {SF_PACKED, "PACKED"}};
    char out[32] = "";
    for (const auto &n : NAMES) {
        if (!(flags & n.flag)) continue;
        if (out[0] != '\0') strcat(out, "|");
        strcat(out, n.name);
    }
    if (out[0] == '\0') strcpy(out, "-");
    if (size > 0) snprintf(text, size, "%s", out);
    return strlen(out);
}
