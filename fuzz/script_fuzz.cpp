// LINKSCRIPT.INI and link script files: any settings text sets only ports 1-500, and any
// script file replays without reading past the frame buffer, hanging or seeking wrong.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

#include "link/link.h"
#include "link/script.h"
#include "platform/platform.h"

namespace {
constexpr short REPLAY_PORT = 5;
constexpr int MOST_READS = 64;

void NoSleep(uint32_t) {}

std::string ScriptDirectory()
{
    static std::string dir;
    if (dir.empty()) {
        char pattern[] = "/tmp/varnek-fuzz-script-XXXXXX";
        dir = mkdtemp(pattern) != nullptr ? pattern : "/tmp";
        setenv("VARNEK_SCRIPT_DIR", dir.c_str(), 1);
    }
    return dir;
}

void ReadSettings(const uint8_t *text, size_t size)
{
    FILE *f = fmemopen(const_cast<uint8_t *>(text), size, "r");
    if (f == nullptr) return;
    SCRIPT_ReadSettings(f);
    fclose(f);
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    Platform_SetSleep(NoSleep);
    std::string dir = ScriptDirectory();
    if (size < 1) return 0;
    size_t settings = data[0] < size - 1 ? data[0] : size - 1;
    SCRIPT_Restart();
    if (settings > 0) ReadSettings(data + 1, settings);
    static const char replay[] = "port = 5 mode = read";
    ReadSettings(reinterpret_cast<const uint8_t *>(replay), sizeof replay - 1);

    std::string file = dir + "/LINKSCRIPT.05";
    FILE *f = fopen(file.c_str(), "wb");
    if (f == nullptr) return 0;
    fwrite(data + 1 + settings, 1, size - 1 - settings, f);
    fclose(f);
    static uint8_t buffer[LINK_BUFFER_SIZE];
    for (int i = 0; i < MOST_READS; ++i) {
        uint16_t length = 0;
        short got = SCRIPT_Read(REPLAY_PORT, buffer, &length);
        if (length > LINK_BUFFER_SIZE || (got != SCRIPT_DONE && length != 0)) abort();
        if (got != SCRIPT_DONE) break;
    }
    return 0;
}
