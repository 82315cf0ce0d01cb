// frame_header.h - the header of a session frame: built from its fields, decoded into
// them, and described as text.  The session layer, the station's wire watchers, the
// script dump and the tests all read and write headers through this one module.
//
// A header is the flags byte, then in this order and only when its flag is set: the
// 39-byte open block (SF_OPEN), the payload length (SF_END), the hold byte (SF_HOLD) and
// the close code (SF_CLOSE); SF_PACKED adds no byte.  Numbers are most significant byte
// first.  A frame without SF_END carries exactly the payload size the peer announced in
// its open block.
#pragma once

#include <cstddef>
#include <cstdint>

// Session frame flags (the first byte of every frame); bits 2 to 0 are 0.
constexpr uint8_t SF_OPEN = 0x80;
constexpr uint8_t SF_END = 0x40;
constexpr uint8_t SF_HOLD = 0x20;
constexpr uint8_t SF_CLOSE = 0x10;
constexpr uint8_t SF_PACKED = 0x08;

// Sizes of the header's parts, and the longest header.
constexpr size_t FH_FLAGS_SIZE = 1;
constexpr size_t FH_OPEN_SIZE = 39;
constexpr size_t FH_LENGTH_SIZE = 2;
constexpr size_t FH_HOLD_SIZE = 1;
constexpr size_t FH_CLOSE_SIZE = 1;
constexpr size_t FH_MAX = FH_FLAGS_SIZE + FH_OPEN_SIZE + FH_LENGTH_SIZE + FH_HOLD_SIZE + FH_CLOSE_SIZE;  // 44

// Offsets inside the open block.
constexpr size_t FH_OPEN_PROTOCOL = 0;      // protocol version
constexpr size_t FH_OPEN_ZIP = 1;           // compression version
constexpr size_t FH_OPEN_SERVICE = 2;       // service number, 2 bytes
constexpr size_t FH_OPEN_LOCAL_NAME = 4;    // 16 bytes
constexpr size_t FH_OPEN_REMOTE_NAME = 20;  // 16 bytes
constexpr size_t FH_OPEN_OPTION = 36;       // service option
constexpr size_t FH_OPEN_FRAME_SIZE = 37;   // payload size of a full frame, 2 bytes
constexpr size_t FH_NAME_SIZE = 16;

// Every field a header can carry; only those whose flag is set count.
struct FrameHeader {
    uint8_t flags;
    // SF_OPEN
    uint8_t protocolVersion;
    uint8_t zipVersion;
    uint16_t service;
    char localName[FH_NAME_SIZE];
    char remoteName[FH_NAME_SIZE];
    uint8_t serviceOption;
    uint16_t frameSize;
    // SF_END
    uint16_t payloadLength;
    // SF_HOLD
    uint8_t hold;
    // SF_CLOSE
    uint8_t closeCode;
};

// The header length that a flags byte announces: 1 to FH_MAX.
size_t FrameHeader_Length(uint8_t flags);

// Writes the header of h (FrameHeader_Length(h->flags) bytes) to out, which holds
// FH_MAX bytes; returns its length.
size_t FrameHeader_Build(const FrameHeader *h, uint8_t *out);

// Reads a header from bytes, which hold at least FrameHeader_Length(bytes[0]) bytes;
// fields whose flag is not set are 0.  Returns the header length.
size_t FrameHeader_Decode(const uint8_t *bytes, FrameHeader *h);

// How long the frame that starts at bytes is, as far as its first `have` bytes tell: the
// header length while the header is incomplete (1 while have is 0), then the header plus
// its payload, the length field with SF_END and frameSize without.
size_t FrameHeader_FrameLength(const uint8_t *bytes, size_t have, uint16_t frameSize);

// The names of the flags set, "OPEN|END|HOLD|CLOSE|PACKED" in that order, or "-" when
// none is.  Writes at most size bytes, NUL included; returns the text's length.
size_t FrameHeader_FlagText(uint8_t flags, char *text, size_t size);
