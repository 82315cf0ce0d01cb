// wire.h - byte streams cut into frames, for the programs that watch a line or talk to
// a port byte by byte: the station's demo and the tests.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// What both cutters share: the frame last completed, held until the next Push.
class FrameCutter {
public:
    const std::vector<uint8_t> &Frame() const { return frame_; }

protected:
    std::vector<uint8_t> frame_;
    bool done_ = false;
};

// Cuts a TCP byte stream into session frames (header, then its payload: the length
// field's count, or 256 without one).
class SessionFrameCutter : public FrameCutter {
public:
    // Takes the next byte: true when it completes a frame.
    bool Push(uint8_t b);
};

// Cuts a serial byte stream into link frames, 0x12 to 0x0D; bytes outside a frame are
// skipped.
class LinkFrameCutter : public FrameCutter {
public:
    // Takes the next byte: true when it completes a frame.
    bool Push(uint8_t b);
};
