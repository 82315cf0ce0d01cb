// A fake calendar clock for time-based rules.  While one is alive, the library reads
// its time, and every sleep of the library advances it by the time slept, so a
// 2-second pause or a 60-second time-out costs no real time and no processor.
#pragma once

#include <cstdint>

class FakeClock {
public:
    explicit FakeClock(int64_t startSeconds = 1000000);
    ~FakeClock();
    FakeClock(const FakeClock &) = delete;
    FakeClock &operator=(const FakeClock &) = delete;

    void Advance(int64_t seconds);
    int64_t Now() const;          // whole seconds
    uint64_t SleptMs() const;     // sum of the sleeps asked for
    uint64_t Sleeps() const;      // number of sleeps
    uint64_t Reads() const;       // number of clock reads
    uint32_t LongestSleepMs() const;
};
