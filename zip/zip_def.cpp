// Version records: the compression version of each session, and the diagnostic line.
#include <atomic>
#include <cstdio>

#include "session/trace_hook.h"
#include "varnek.h"
#include "zip/zip_internal.h"

namespace {
Registry<ZipDef> versions;
std::atomic<uint8_t> offeredVersion{ZIP_DEFAULT_VERSION};
}  // namespace

void ZIP_SetOfferedVersion(uint8_t version) { offeredVersion.store(version, std::memory_order_relaxed); }

ZipDef *ZIP_FindDef(uint16_t sessionId) { return versions.Find(sessionId); }

bool ZIP_EnsureDef(uint16_t sessionId)
{
    if (versions.Find(sessionId) != nullptr) return true;
    auto *def = static_cast<ZipDef *>(Mem_Malloc("ZIPDEF", sizeof(ZipDef)));
    if (def == nullptr) return false;
    def->sessionId = sessionId;
    def->version = offeredVersion.load(std::memory_order_relaxed);
    versions.Append(def);
    return true;
}

int16_t ZIP_RemoveDef(uint16_t sessionId)
{
    ZipDef *def = versions.Unlink(sessionId);
    if (def == nullptr) return ZIP_FAILED;
    Mem_Free("ZIPDEF", def);
    return ZIP_OK;
}

void ZIP_DefReset() { versions.Reset(); }

int16_t ZIP_SetVersion(uint16_t sessionId, uint8_t version)
{
    ZipDef *def = versions.Find(sessionId);
    if (def == nullptr) return ZIP_FAILED;
    def->version = version;
    return ZIP_OK;
}

extern "C" short ZIP_GetVersion(uint16_t sessionId, uint8_t *version)
{
    uint8_t found = 0;
    ZipDef *def = versions.Find(sessionId);
    if (def != nullptr) found = def->version;
    if (version != nullptr) *version = found;
    return def != nullptr ? ZIP_OK : ZIP_FAILED;
}

void ZIP_Trace(int sessionId, const char *text)
{
    char line[128];
    if (sessionId < 0) {
        snprintf(line, sizeof line, "%s\n\r", text);
    } else {
        snprintf(line, sizeof line, "Sid:(%d) %s\n\r", sessionId, text);
    }
    Session_DebugMsg(static_cast<short>(sessionId), line);
}
