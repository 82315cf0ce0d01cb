// Recording every raw frame a port receives into a script file, and replaying such a
// file in place of the line.  Which ports do which is read once from LINKSCRIPT.INI.
//
// A script file is a sequence of records: a type byte (1 pause, 2 frame), a 32-bit
// length L (least significant byte first), then L bytes: the raw frame as it came off
// the line (L = 0: a wait that ended without a frame), or a pause in tenths of a second.
#include "link/script.h"

#include <array>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <string>

#include "link/link.h"
#include "platform/platform.h"
#include "support/bytes.h"

namespace {

enum class ScriptMode : uint16_t { Off = 0, Record = 1, Replay = 2 };

constexpr uint8_t RECORD_PAUSE = 1;
constexpr uint8_t RECORD_FRAME = 2;
constexpr int SETTINGS_ENTRIES = 500;
constexpr uint32_t REPLAY_PAUSE = 500;  // after each frame replayed: 200 ms

std::array<ScriptMode, LINK_PORT_LAST + 1> modes{};
std::array<int64_t, LINK_PORT_LAST + 1> positions{};
bool initialised = false;

std::string ScriptDirectory()
{
    const char *chosen = Platform_GetEnv("VARNEK_SCRIPT_DIR");
    if (chosen != nullptr && *chosen != '\0') return chosen;
#if defined(_WIN32)
    return "C:\\YOLM\\SCRIPT";
#else
    const char *home = Platform_GetEnv("HOME");
    return std::string(home != nullptr ? home : ".") + "/YOLM/SCRIPT";
#endif
}

std::string ScriptFile(short port)
{
    char name[32];
    snprintf(name, sizeof name, "LINKSCRIPT.%2.2d", port);
    return ScriptDirectory() + PLATFORM_SEPARATOR + name;
}

ScriptMode ModeOf(short port)
{
    return port >= LINK_PORT_FIRST && port <= LINK_PORT_LAST ? modes[port] : ScriptMode::Off;
}

}  // namespace

void SCRIPT_ReadSettings(FILE *f)
{
    for (int entry = 0; entry < SETTINGS_ENTRIES; ++entry) {
        short port = 0;
        char word[128] = {};
        if (fscanf(f, "port = %hd mode = %127s ", &port, word) != 2) return;
        for (char *c = word; *c != '\0'; ++c) *c = static_cast<char>(toupper(static_cast<unsigned char>(*c)));
        if (port < LINK_PORT_FIRST || port > LINK_PORT_LAST) continue;  // no such port: ignored
        if (strcmp(word, "READ") == 0) modes[port] = ScriptMode::Replay;
        if (strcmp(word, "WRITE") == 0) modes[port] = ScriptMode::Record;
    }
}

void SCRIPT_Restart()
{
    modes.fill(ScriptMode::Off);
    positions.fill(0);
}

namespace {

// Ends a replay pass: the next read starts at the first record again.
ScriptResult EndOfScript(short port, FILE *f, ScriptResult why)
{
    fclose(f);
    positions[port] = 0;
    return why;
}

}  // namespace

void SCRIPT_Pause(uint32_t value) { Platform_SleepMs(value <= 2 ? value * 100 : 200); }

bool SCRIPT_Recording(short port) { return ModeOf(port) == ScriptMode::Record; }

const char *SCRIPT_TraceText(ScriptResult result)
{
    switch (result) {
    case SCRIPT_DONE:
    case SCRIPT_OFF: return nullptr;
    case SCRIPT_CANT_OPEN: return "SCRIPT WRITE: Can't open";
    case SCRIPT_CANT_WRITE: return "SCRIPT WRITE: Can't write";
    case SCRIPT_NOT_FOUND: return "SCRIPT READ : File not found";
    case SCRIPT_READ_END: return "SCRIPT READ : Read End Of File (read)";
    case SCRIPT_SEEK_END: return "SCRIPT READ : Seek End Of File (seek)";
    }
    return nullptr;
}

ScriptResult SCRIPT_Write(short port, const uint8_t *frame, uint16_t n)
{
    if (ModeOf(port) != ScriptMode::Record) return SCRIPT_OFF;
    FILE *f = fopen(ScriptFile(port).c_str(), "ab");
    if (f == nullptr) return SCRIPT_CANT_OPEN;
    uint8_t head[5] = {RECORD_FRAME};
    Bytes_PutLE32(head + 1, n);
    bool ok = fwrite(head, 1, 1, f) == 1 && fwrite(head + 1, 1, 4, f) == 4;
    if (ok && n > 0) ok = fwrite(frame, 1, n, f) == n;
    fclose(f);
    return ok ? SCRIPT_DONE : SCRIPT_CANT_WRITE;
}

ScriptResult SCRIPT_Read(short port, uint8_t *buffer, uint16_t *length)
{
    *length = 0;
    if (ModeOf(port) != ScriptMode::Replay) return SCRIPT_OFF;
    FILE *f = fopen(ScriptFile(port).c_str(), "rb");
    if (f == nullptr) return SCRIPT_NOT_FOUND;
    if (!Platform_FileSeek(f, positions[port])) return EndOfScript(port, f, SCRIPT_SEEK_END);
    for (;;) {
        uint8_t head[5];
        if (fread(head, 1, 1, f) != 1 || fread(head + 1, 1, 4, f) != 4) {
            return EndOfScript(port, f, SCRIPT_READ_END);
        }
        uint32_t size = Bytes_GetLE32(head + 1);
        if (head[0] == RECORD_FRAME && size <= LINK_BUFFER_SIZE) {
            if (size > 0 && fread(buffer, 1, size, f) != size) {
                return EndOfScript(port, f, SCRIPT_READ_END);
            }
            *length = static_cast<uint16_t>(size);
            SCRIPT_Pause(REPLAY_PAUSE);
            positions[port] = Platform_FileTell(f);
            fclose(f);
            return SCRIPT_DONE;
        }
        if (head[0] == RECORD_PAUSE && size == 4) {
            uint8_t value[4];
            if (fread(value, 1, 4, f) != 4) return EndOfScript(port, f, SCRIPT_READ_END);
            SCRIPT_Pause(Bytes_GetLE32(value));
            continue;
        }
        // Another type, a pause of another size, or a frame longer than the receive
        // buffer: skipped.  A frame skipped so counts as a wait that ended empty.  A
        // record reaching past the end of the file is the end of the file.
        int64_t next = Platform_FileTell(f) + static_cast<int64_t>(size);
        if (next > Platform_FileSize(f)) return EndOfScript(port, f, SCRIPT_READ_END);
        if (!Platform_FileSeek(f, next)) return EndOfScript(port, f, SCRIPT_SEEK_END);
        if (head[0] == RECORD_FRAME) {
            positions[port] = next;
            fclose(f);
            return SCRIPT_DONE;
        }
    }
}

extern "C" {

short LINK_ScriptInit(void)
{
    if (initialised) return 1;
#if defined(_WIN32)
    if (Platform_GetEnv("VARNEK_SCRIPT_DIR") == nullptr) {
        Platform_MakeDirectories("C:\\YOLM");
        Platform_MakeDirectories("C:\\YOLM\\SCRIPT");
    }
#endif
    Platform_MakeDirectories(ScriptDirectory().c_str());
    initialised = true;
    SCRIPT_Restart();
    if (!Platform_Exists("LINKSCRIPT.INI")) return -1;
    FILE *f = fopen("LINKSCRIPT.INI", "r");
    if (f == nullptr) return 0;
    SCRIPT_ReadSettings(f);
    fclose(f);
    return 0;
}

short LINK_IsScriptRead(short port) { return ModeOf(port) == ScriptMode::Replay ? 1 : 0; }

}  // extern "C"
