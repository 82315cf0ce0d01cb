// frame_io.h - the session's frame exchange, as the compression layer calls it.
//
// The one seam through which zip/ reaches the session layer above it.  The compressor
// writes each frame's payload into the frame buffer the session handed it with the
// ZIP_ call, then has it sent; the decompressor asks for the next frame and reads its
// payload where the receive says it lies.  Nothing else of the session is visible here.
#pragma once

#include <cstdint>

// A received frame: its payload, its length, whether it ends the message (SF_END) and
// whether it is compressed (SF_PACKED).  The payload stays valid until the session's
// next frame receive or its release.
struct SessionFrame {
    const uint8_t *payload;
    uint16_t length;
    uint16_t final;
    uint16_t packed;
};

// Sends the first payloadLength bytes of the session's frame buffer (its txBuffer, the
// buffer handed to the compressor) as one frame, with the header the session's send
// flags ask for (the end and close parts only when final is 1).  Over TCP a frame
// already waiting from the peer is read first.  1 or -2 (the session may be gone).
short Session_SendFrame(int16_t id, uint16_t payloadLength, uint16_t final, uint8_t packed);

// Receives the session's next frame.  1 with *frame filled; 0 when a non-blocking
// time-out came first (the session kept: the next call goes on with the same frame
// where it stopped); -2 failure (the session may be gone).
short Session_ReceiveFrame(int16_t id, SessionFrame *frame);
