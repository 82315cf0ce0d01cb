// The replaceable clock, sleep and message box (see platform.h).
#include "platform/platform.h"

#include <atomic>

namespace {
// Set by a test's main thread while the library's threads may read them.
std::atomic<PlatformClockFn> clockFn{nullptr};
std::atomic<PlatformSleepFn> sleepFn{nullptr};
std::atomic<PlatformBoxFn> boxFn{nullptr};
}  // namespace

void Platform_SetClock(PlatformClockFn fn) { clockFn = fn; }
void Platform_SetSleep(PlatformSleepFn fn) { sleepFn = fn; }
void Platform_SetMessageBox(PlatformBoxFn fn) { boxFn = fn; }

int64_t Platform_Time()
{
    PlatformClockFn fn = clockFn;
    return fn ? fn() : Platform_RealTime();
}

void Platform_SleepMs(uint32_t ms)
{
    PlatformSleepFn fn = sleepFn;
    if (fn) {
        fn(ms);
        return;
    }
    Platform_RealSleepMs(ms);
}

void Platform_MessageBox(const char *caption, const char *text)
{
    PlatformBoxFn fn = boxFn;
    if (fn) {
        fn(caption, text);
        return;
    }
    Platform_RealMessageBox(caption, text);
}
