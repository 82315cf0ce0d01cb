// Linux (POSIX) side of the platform layer.
#include "platform/platform.h"

#include <dlfcn.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <pthread.h>
#include <cstdio>
#include <cstdlib>
#include <ctime>

static_assert(sizeof(pthread_mutex_t) <= sizeof(PlatformLock::opaque), "lock storage too small");

namespace {
pthread_mutex_t *Mutex(PlatformLock *lock) { return reinterpret_cast<pthread_mutex_t *>(lock->opaque); }
}  // namespace

int64_t Platform_RealTime() { return static_cast<int64_t>(time(nullptr)); }

void Platform_RealSleepMs(uint32_t ms)
{
    timespec span{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
    while (nanosleep(&span, &span) != 0) {
    }
}

void Platform_RealMessageBox(const char *caption, const char *text)
{
    fprintf(stderr, "%s: %s\n", caption, text);
    fflush(stderr);
}

const char *Platform_GetEnv(const char *name) { return getenv(name); }

void Platform_LockInit(PlatformLock *lock) { pthread_mutex_init(Mutex(lock), nullptr); }
void Platform_LockEnter(PlatformLock *lock) { pthread_mutex_lock(Mutex(lock)); }
void Platform_LockLeave(PlatformLock *lock) { pthread_mutex_unlock(Mutex(lock)); }
void Platform_LockDelete(PlatformLock *lock) { pthread_mutex_destroy(Mutex(lock)); }

void *Platform_LoadLibrary(const char *name) { return dlopen(name, RTLD_NOW | RTLD_LOCAL); }

void *Platform_FindSymbol(void *library, const char *name) { return dlsym(library, name); }

void Platform_MakeDirectories(const char *path)
{
    std::string p = path;
    for (size_t at = 1; at <= p.size(); ++at) {
        if (at == p.size() || p[at] == '/') mkdir(p.substr(0, at).c_str(), 0755);
    }
}

bool Platform_Exists(const char *path) { return access(path, F_OK) == 0; }

bool Platform_FileSeek(FILE *f, int64_t offset) { return fseeko(f, static_cast<off_t>(offset), SEEK_SET) == 0; }

int64_t Platform_FileTell(FILE *f) { return static_cast<int64_t>(ftello(f)); }

int64_t Platform_FileSize(FILE *f)
{
    struct stat st {};
    if (fstat(fileno(f), &st) != 0) return -1;
    return static_cast<int64_t>(st.st_size);
}
