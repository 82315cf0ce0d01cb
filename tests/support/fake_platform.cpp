#include "support/fake_platform.h"

#include <atomic>

#include "platform/platform.h"

namespace {
// Atomic: sessions on several threads read and advance the one clock.
std::atomic<int64_t> nowMs{0};
std::atomic<uint64_t> sleptMs{0};
std::atomic<uint64_t> sleeps{0};
std::atomic<uint64_t> reads{0};
std::atomic<uint32_t> longestSleepMs{0};

int64_t FakeTime()
{
    ++reads;
    return nowMs / 1000;
}

void FakeSleep(uint32_t ms)
{
    ++sleeps;
    sleptMs += ms;
    uint32_t longest = longestSleepMs;
    while (ms > longest && !longestSleepMs.compare_exchange_weak(longest, ms)) {
    }
    nowMs += ms;
}
}  // namespace

FakeClock::FakeClock(int64_t startSeconds)
{
    nowMs = startSeconds * 1000;
    sleptMs = 0;
    sleeps = 0;
    reads = 0;
    longestSleepMs = 0;
    Platform_SetClock(FakeTime);
    Platform_SetSleep(FakeSleep);
}

FakeClock::~FakeClock()
{
    Platform_SetClock(nullptr);
    Platform_SetSleep(nullptr);
}

void FakeClock::Advance(int64_t seconds) { nowMs += seconds * 1000; }
int64_t FakeClock::Now() const { return nowMs / 1000; }
uint64_t FakeClock::SleptMs() const { return sleptMs; }
uint64_t FakeClock::Sleeps() const { return sleeps; }
uint64_t FakeClock::Reads() const { return reads; }
uint32_t FakeClock::LongestSleepMs() const { return longestSleepMs; }
