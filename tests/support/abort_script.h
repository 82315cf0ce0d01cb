// A scripted abort callback.  Every wait of the library asks it once per pass, so it
// counts passes, can move a fake clock on by some seconds per pass, and can ask to stop
// from a chosen pass on.  Installed while alive.
#pragma once

#include <cstdint>

class FakeClock;

class AbortScript {
public:
    AbortScript();
    ~AbortScript();
    AbortScript(const AbortScript &) = delete;
    AbortScript &operator=(const AbortScript &) = delete;

    // Answer "stop" from the n-th call on (0: never).
    AbortScript &StopAt(int n);
    // Answer "stop" at the n-th call only, like a button pressed once.
    AbortScript &StopOnceAt(int n);
    // Move clock on by `seconds` at every call.
    AbortScript &Advance(FakeClock &clock, int64_t seconds);
    int Calls() const;
};
