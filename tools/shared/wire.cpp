#include "shared/wire.h"

#include "varnek_debug.h"

namespace {

constexpr uint8_t LINK_START = 0x12;
constexpr uint8_t LINK_END = 0x0D;

}  // namespace

bool SessionFrameCutter::Push(uint8_t b)
{
    if (done_) frame_.clear();
    frame_.push_back(b);
    done_ = frame_.size() == VKD_FrameLength(frame_.data(), frame_.size());
    return done_;
}

bool LinkFrameCutter::Push(uint8_t b)
{
    if (done_) frame_.clear();
    done_ = false;
    if (frame_.empty() && b != LINK_START) return false;
    frame_.push_back(b);
    done_ = b == LINK_END;
    return done_;
}
