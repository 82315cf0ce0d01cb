#include "serial.h"

#include "events.h"
#include "service.h"
#include "shared/environment.h"
#include "varnek_debug.h"

#include <chrono>
#include <cstdio>
#include <thread>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

// The component lives beside the program unless VARNEK_DRUMMEL names one.
void FindComponent(const char *program)
{
    if (getenv("VARNEK_DRUMMEL") != nullptr) return;
    std::string dir = program;
    size_t slash = dir.find_last_of("/\\");
    dir = slash == std::string::npos ? "." : dir.substr(0, slash);
#ifdef _WIN32
    std::string file = dir + "\\DRUMMEL.dll";
#else
    std::string file = dir + "/libdrummel.so";
#endif
    if (std::ifstream(file).good()) SetEnvironment("VARNEK_DRUMMEL", file);
}

}  // namespace

bool OpenSerialPort(short port, const std::string &lineSpec, const char *program, const SerialSettings &settings)
{
    FindComponent(program);
    LINK_ScriptInit();  // LINKSCRIPT.INI in the current directory may record or replay the port
    if (!lineSpec.empty()) SetEnvironment("DRUMMEL_PORT" + std::to_string(port), lineSpec);
    return LINK_Open(port, static_cast<uint16_t>(settings.baud / 100), settings.dataBits,
                     static_cast<uint8_t>(settings.parity), settings.stopBits, settings.flow, settings.waitMs, 0) == 1;
}

void CaptureSerialPort(short port, const std::string &file)
{
    SetEnvironment("DRUMMEL_PCAP" + std::to_string(port), file);
}

bool CentreLogIn(short port)
{
    uint8_t greeting[10] = {0x22, 0x24, 0x00, 0x01, 2, 0, 0, 0, 0, 0};
    uint8_t block[4096];
    // The line may not carry anything until the caller is there (a tcp-listen line).
    for (int tries = 0; LINK_Send(port, greeting, sizeof greeting) != 1; ++tries) {
        if (Service_Stopping()) return false;
        if (tries == 600) {
            Event("failed").Int("serial", port).Str("stage", "login").Str("reason", "no caller on the line")
                .Emit("centre: no caller on the line");
            return false;
        }
        LINK_Init(port);
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    short n = LINK_Receive(port, block, sizeof block);
    if (n != 4 + VKD_LOGIN_RECORD_SIZE + 1) {
        Event("failed").Int("serial", port).Str("stage", "login").Int("result", n).Str("reason", "no log-in record")
            .Emit("centre: no log-in record (" + std::to_string(n) + ")");
        return false;
    }
    uint16_t requested = 0;
    bool fixed = VKD_LoginRecordRead(block + 4, &requested) == 1;
    Event("login").Int("serial", port).Int("service", requested).Int("accepted", fixed ? 1 : 0)
        .Emit("centre: log-in record for port " + std::to_string(requested) + (fixed ? " accepted" : " with wrong constants"));
    if (!fixed) return false;
    return LINK_SndAck(port) == 1;
}

int DumpScript(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        fprintf(stderr, "varnek script dump: cannot read %s\n", path.c_str());
        return EXIT_FILE;
    }
    std::vector<uint8_t> data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    size_t at = 0;
    uint8_t type = 0;
    uint32_t length = 0;
    for (int n = 1; VKD_ScriptRecord(data.data() + at, data.size() - at, &type, &length); ++n) {
        at += VKD_SCRIPT_RECORD_HEADER;
        if (length > data.size() - at) {
            printf("%4d  type %u, length %u: cut short\n", n, type, length);
            break;
        }
        std::vector<uint8_t> raw(data.begin() + static_cast<long>(at), data.begin() + static_cast<long>(at + length));
        at += length;
        if (type == VKD_SCRIPT_PAUSE) {
            printf("%4d  pause %u tenths\n", n, VKD_ScriptPause(raw.data(), raw.size()));
            continue;
        }
        if (type != VKD_SCRIPT_FRAME) {
            printf("%4d  type %u, %u bytes: skipped on replay\n", n, type, length);
            continue;
        }
        if (length == 0) {
            printf("%4d  time-out\n", n);
            continue;
        }
        uint8_t out[VKD_LINK_FRAME_MAX];
        uint16_t size = sizeof out, header = 0;
        uint16_t status = LINK_Decode(out, raw.data(), static_cast<uint16_t>(raw.size()), &size, &header);
        printf("%4d  frame %u bytes <%d:%d:%d:%d>%s", n, length, header >> 7 & 1, header >> 6 & 1, header >> 3 & 7,
               header & 7, status == 0 ? "" : " BAD");
        if (status == 0 && (header & 0x40) == 0) printf(" ACK");
        uint16_t code = 0, blockNo = 0;
        if (status == 0 && VKD_BlockFields(out, size, &code, &blockNo)) {
            printf(" | block code %u, #%u, %u bytes", code, blockNo, size - 4u);
            char flags[32];
            if (size > 4 && VKD_FrameFlags(out[4], flags, sizeof flags) > 0) printf(" | session frame [%s]", flags);
        }
        printf("\n");
    }
    return EXIT_OK;
}
