// Recording a port's link frames into a pcap file (see capture.h).
#include "capture.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "../support/pcap_format.h"

namespace {

constexpr short PORT_FIRST = 1;
constexpr short PORT_LAST = 500;
constexpr uint8_t FRAME_START = 0x12;
constexpr uint8_t FRAME_END = 0x0D;
constexpr size_t FRAME_LIMIT = 16384;

struct Capture {
    FILE *file = nullptr;
    std::vector<uint8_t> frame[2];  // being assembled, by direction; empty: outside a frame
};

Capture captures[PORT_LAST + 1];

Capture *Recording(short port)
{
    if (port < PORT_FIRST || port > PORT_LAST || captures[port].file == nullptr) return nullptr;
    return &captures[port];
}

uint64_t Now()
{
    auto since = std::chrono::system_clock::now().time_since_epoch();
    return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::microseconds>(since).count());
}

void Write(Capture &c, uint8_t direction, const std::vector<uint8_t> &frame)
{
    uint8_t header[PCAP_RECORD_HEADER];
    uint32_t kept = Pcap_RecordHeader(header, Now(), frame.size() + 1);
    fwrite(header, 1, sizeof header, c.file);
    fputc(direction, c.file);
    fwrite(frame.data(), 1, kept - 1, c.file);
    fflush(c.file);
}

void Feed(short port, uint8_t direction, const uint8_t *bytes, size_t length)
{
    Capture *c = Recording(port);
    if (c == nullptr || bytes == nullptr) return;
    std::vector<uint8_t> &frame = c->frame[direction];
    for (size_t i = 0; i < length; ++i) {
        uint8_t b = bytes[i];
        if (b == FRAME_START) frame.clear();
        if (frame.empty() && b != FRAME_START) continue;
        frame.push_back(b);
        if ((frame.size() > 1 && b == FRAME_END) || frame.size() == FRAME_LIMIT) {
            Write(*c, direction, frame);
            frame.clear();
        }
    }
}

}  // namespace

void Capture_Open(short port)
{
    if (port < PORT_FIRST || port > PORT_LAST) return;
    Capture_Close(port);
    std::string name = "DRUMMEL_PCAP" + std::to_string(port);
    const char *path = getenv(name.c_str());
    if (path == nullptr || *path == '\0') return;
    Capture &c = captures[port];
    c.file = fopen(path, "wb");
    if (c.file == nullptr) {
        fprintf(stderr, "DRUMMEL: cannot write the capture %s of port %d\n", path, port);
        return;
    }
    uint8_t header[PCAP_FILE_HEADER];
    Pcap_FileHeader(header, PCAP_USER1);
    fwrite(header, 1, sizeof header, c.file);
    fflush(c.file);
}

void Capture_Close(short port)
{
    Capture *c = Recording(port);
    if (c == nullptr) return;
    fclose(c->file);
    c->file = nullptr;
    c->frame[0].clear();
    c->frame[1].clear();
}

void Capture_Sent(short port, const uint8_t *bytes, size_t length) { Feed(port, PCAP_SENT, bytes, length); }

void Capture_Received(short port, const uint8_t *bytes, size_t length) { Feed(port, PCAP_RECEIVED, bytes, length); }
