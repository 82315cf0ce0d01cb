// zip.h - per-session compression: version records, compressor and decompressor
// contexts, and the cutting of messages into frames of 256 payload bytes.
//
// A message is the unit of compression.  The compressor either codes it (version not 0)
// or copies it, gathers payload in the session's transmit buffer and has the session
// layer send a frame each time one is full; the message's last frame carries the rest.
// A compressed stream of at most one frame that is longer than the message goes out
// uncompressed instead.  The decompressor hands the host exactly the bytes it asks for,
// whatever the frame boundaries, and reports the end of the message.
//
// Seams.  The layer reaches the session layer above it only through
// session/frame_io.h: Session_SendFrame when a frame is full or the message ends, and
// Session_ReceiveFrame for the next frame, whose payload it reads where the receive
// says it lies.  Diagnostics ("Sid:(%d) %s\n\r") go to Session_DebugMsg
// (session/trace_hook.h), which shows nothing to the host.  The codec (lzss.h) calls
// nothing: it pulls code and pushes bytes through the context it is handed.
#pragma once

#include <cstdint>

// The layer's results, each with one meaning (the codec has its own, in lzss.h).
enum ZipResult : int16_t {
    ZIP_OK = 0,
    ZIP_ENDED = 1,             // ZIP_UnzipFrame: the message ended in this call
    ZIP_FAILED = -1,
    ZIP_VERSION_CHANGED = -2,
    ZIP_TRANSPORT = -3,        // a frame could not be sent or received
    ZIP_WOULD_BLOCK = -4,      // a non-blocking receive ran out of time before the next
                               // frame: *count bytes delivered, the read stopped at a
                               // point the next call goes on from
};

constexpr uint8_t ZIP_DEFAULT_VERSION = 2;

// Version records (one per session).  New records take the offered version, 2 unless
// a program of this project set another (the varnek station's --no-compress).
void ZIP_SetOfferedVersion(uint8_t version);
int16_t ZIP_SetVersion(uint16_t sessionId, uint8_t version);
void ZIP_DefReset();

// Compressor contexts.
void ZIP_ZipReset();
int16_t ZIP_ZipCreate(uint16_t sessionId, int16_t capacity);
int16_t ZIP_ZipDelete(uint16_t sessionId);

// Hands the next piece of the current message to the compressor; pieces of any
// uint16_t length are accepted (longer than 32767 bytes: served in parts).  0, -1, -2.
int16_t ZIP_ZipFrame(uint16_t sessionId, const uint8_t *data, uint16_t length, uint8_t *frameBuffer);
// Ends the current message: the rest goes out as its last frame.
int16_t ZIP_ZipFlush(uint16_t sessionId, uint8_t *frameBuffer);
// A hold: keeps the message going (compressed: the same stream, no new primer).  A full
// frame of a compressed message goes out now; anything else waits for the next byte or
// the end.  Never a short frame without the end, never an empty last frame.
int16_t ZIP_ZipHold(uint16_t sessionId, uint8_t *frameBuffer);

// Decompressor contexts.
void ZIP_UnzipReset();
int16_t ZIP_UnzipCreate(uint16_t sessionId, uint16_t capacity);
int16_t ZIP_UnzipDelete(uint16_t sessionId);

// Delivers *count bytes of the current message into destination (any uint16_t count;
// longer than 32767: served in parts).  On return *count holds the bytes written to
// destination, never more than asked, and *last is 1 when the message ended.  1 (ended),
// 0, -1, -2, -3, -4 (ZIP_WOULD_BLOCK).  A request for 0 bytes that begins a message keeps
// the frame it received for the next call.  An empty message (one empty last frame)
// ends at once with a count of 0, whatever the version.  A message's frames are all
// compressed or all plain, as its first one, and none carries more than the capacity
// given at creation: another frame breaks the message (-1).  A decoding failure is never
// reported as the end of the message.
int16_t ZIP_UnzipFrame(uint16_t sessionId, uint8_t *destination, uint16_t *count, uint8_t *last);

// Composes a diagnostic line and hands it to the session trace.
void ZIP_Trace(int sessionId, const char *text);
