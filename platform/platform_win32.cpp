// Windows side of the platform layer.
#include "platform/platform.h"

#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#include <direct.h>
#include <io.h>
#include <string>
#include <cstdio>
#include <cstdlib>
#include <ctime>

static_assert(sizeof(CRITICAL_SECTION) <= sizeof(PlatformLock::opaque), "lock storage too small");

namespace {
CRITICAL_SECTION *Section(PlatformLock *lock) { return reinterpret_cast<CRITICAL_SECTION *>(lock->opaque); }
}  // namespace

int64_t Platform_RealTime() { return static_cast<int64_t>(time(nullptr)); }

void Platform_RealSleepMs(uint32_t ms) { Sleep(ms); }

void Platform_RealMessageBox(const char *caption, const char *text)
{
    if (Platform_GetEnv("VARNEK_NO_MSGBOX") == nullptr) {
        MessageBoxA(nullptr, text, caption, MB_OK);
        return;
    }
    fprintf(stderr, "%s: %s\n", caption, text);
    fflush(stderr);
}

const char *Platform_GetEnv(const char *name) { return getenv(name); }

void Platform_LockInit(PlatformLock *lock) { InitializeCriticalSection(Section(lock)); }
void Platform_LockEnter(PlatformLock *lock) { EnterCriticalSection(Section(lock)); }
void Platform_LockLeave(PlatformLock *lock) { LeaveCriticalSection(Section(lock)); }
void Platform_LockDelete(PlatformLock *lock) { DeleteCriticalSection(Section(lock)); }

void *Platform_LoadLibrary(const char *name) { return reinterpret_cast<void *>(LoadLibraryA(name)); }

void *Platform_FindSymbol(void *library, const char *name)
{
    return reinterpret_cast<void *>(GetProcAddress(reinterpret_cast<HMODULE>(library), name));
}

void Platform_MakeDirectories(const char *path)
{
    std::string p = path;
    for (size_t at = 1; at <= p.size(); ++at) {
        if (at == p.size() || p[at] == '\\' || p[at] == '/') {
            std::string part = p.substr(0, at);
            if (part.size() > 2 || part.back() != ':') _mkdir(part.c_str());
        }
    }
}

bool Platform_Exists(const char *path) { return _access(path, 0) == 0; }

bool Platform_FileSeek(FILE *f, int64_t offset) { return _fseeki64(f, offset, SEEK_SET) == 0; }

int64_t Platform_FileTell(FILE *f) { return _ftelli64(f); }

int64_t Platform_FileSize(FILE *f) { return _filelengthi64(_fileno(f)); }
