// The replaceable clock, sleep and message box (see platform.h).
#include "platform/platform.h"

namespace {
PlatformClockFn clockFn = nullptr;
PlatformSleepFn sleepFn = nullptr;
PlatformBoxFn boxFn = nullptr;
}  // namespace

void Platform_SetClock(PlatformClockFn fn) { clockFn = fn; }
void Platform_SetSleep(PlatformSleepFn fn) { sleepFn = fn; }
void Platform_SetMessageBox(PlatformBoxFn fn) { boxFn = fn; }

int64_t Platform_Time() { return clockFn ? clockFn() : Platform_RealTime(); }

void Platform_SleepMs(uint32_t ms)
{
    if (sleepFn) {
        sleepFn(ms);
        return;
    }
    Platform_RealSleepMs(ms);
}

void Platform_MessageBox(const char *caption, const char *text)
{
    if (boxFn) {
        boxFn(caption, text);
        return;
    }
    Platform_RealMessageBox(caption, text);
}
