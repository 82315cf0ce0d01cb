// platform.h - what the library needs of the operating system.
//
// Only the files of this folder include operating-system headers.  Everything the
// library does with time, locks and message boxes goes through these functions, so that
// the same logic runs on Windows (critical sections, Sleep, MessageBoxA) and on Linux
// (pthread mutexes, nanosleep, standard error).
//
// Tests may replace the clock, the sleep and the message box (Platform_Set*); the
// replacements are process-wide and a null pointer restores the real one.  None of
// this is exported from the shared library.
#pragma once

#include <cstdint>
#include <cstdio>

// Calendar clock in whole seconds, as time() gives it.
int64_t Platform_Time();

// Gives the processor away for about `ms` milliseconds.  Polling waits call it once per
// pass so that no wait keeps a core busy.
void Platform_SleepMs(uint32_t ms);

// The longest a polling pass may block.
constexpr uint32_t PLATFORM_POLL_MS = 10;

// Shows `text` in a modal box with `caption` and an OK button (Windows, unless the
// environment variable VARNEK_NO_MSGBOX is set), or as the line "caption: text" on
// standard error.
void Platform_MessageBox(const char *caption, const char *text);

// The value of an environment variable, or null.
const char *Platform_GetEnv(const char *name);

// Loads a shared library by file name or path (LoadLibrary, dlopen): its handle or null.
void *Platform_LoadLibrary(const char *name);
// A function the library exports, or null.
void *Platform_FindSymbol(void *library, const char *name);

// Creates a directory and the ones above it that are missing; failures are ignored.
void Platform_MakeDirectories(const char *path);
// Positions in a file opened with fopen, in 64 bits on every system (a 32-bit long
// cannot hold them): seek to an offset from the start (true when done), the current
// position, and the file's size (or -1).
bool Platform_FileSeek(FILE *f, int64_t offset);
int64_t Platform_FileTell(FILE *f);
int64_t Platform_FileSize(FILE *f);
// True when a file or directory of that name exists.
bool Platform_Exists(const char *path);
// The directory separator of the system.
constexpr char PLATFORM_SEPARATOR =
#if defined(_WIN32)
    '\\';
#else
    '/';
#endif

// A lock: a critical section on Windows, a mutex elsewhere.
struct PlatformLock {
    alignas(16) unsigned char opaque[64];
};
void Platform_LockInit(PlatformLock *lock);
void Platform_LockEnter(PlatformLock *lock);
void Platform_LockLeave(PlatformLock *lock);
void Platform_LockDelete(PlatformLock *lock);

// ----------------------------------------------------------------- test seams

using PlatformClockFn = int64_t (*)();
using PlatformSleepFn = void (*)(uint32_t ms);
using PlatformBoxFn = void (*)(const char *caption, const char *text);

void Platform_SetClock(PlatformClockFn fn);
void Platform_SetSleep(PlatformSleepFn fn);
void Platform_SetMessageBox(PlatformBoxFn fn);

// The operating system's own versions, behind the seams.
int64_t Platform_RealTime();
void Platform_RealSleepMs(uint32_t ms);
void Platform_RealMessageBox(const char *caption, const char *text);
