#include "pcap.h"

#include <chrono>
#include <cstring>
#include <fstream>
#include <iterator>
#include <vector>

#include "varnek_debug.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#else
#include <unistd.h>
#endif

namespace {

constexpr size_t ETHERNET_HEADER = 14;
constexpr size_t IP_HEADER = 20;
constexpr size_t TCP_HEADER = 20;
constexpr uint8_t TCP_FIN = 0x01, TCP_SYN = 0x02, TCP_PSH = 0x08, TCP_ACK = 0x10;
constexpr uint16_t PORTS[2] = {40000, 5005};
constexpr uint8_t LOOPBACK[4] = {127, 0, 0, 1};

// What replay does with script records.
constexpr uint64_t REPLAY_PAUSE_US = 200000;  // before each frame replayed
constexpr uint64_t TIMEOUT_US = 1000000;      // a wait that ended without a frame

uint64_t Now()
{
    auto since = std::chrono::system_clock::now().time_since_epoch();
    return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::microseconds>(since).count());
}

// The Internet checksum over the bytes, starting from sum.
uint16_t Checksum(const uint8_t *p, size_t n, uint32_t sum)
{
    for (size_t i = 0; i + 1 < n; i += 2) sum += VKD_GetBE16(p + i);
    if (n % 2) sum += static_cast<uint32_t>(p[n - 1] << 8);
    while (sum >> 16) sum = (sum & 0xFFFF) + (sum >> 16);
    return static_cast<uint16_t>(~sum);
}

void WriteRecord(FILE *file, uint64_t microseconds, const uint8_t *data, size_t length)
{
    uint8_t header[VKD_PCAP_RECORD_HEADER];
    uint32_t kept = VKD_PcapRecordHeader(header, microseconds, length);
    fwrite(header, 1, sizeof header, file);
    fwrite(data, 1, kept, file);
}

bool WriteFileHeader(FILE *file, uint32_t linkType)
{
    uint8_t header[VKD_PCAP_FILE_HEADER];
    VKD_PcapFileHeader(header, linkType);
    return fwrite(header, 1, sizeof header, file) == sizeof header;
}

void Packet(PcapTcp &tcp, int side, uint8_t flags, const uint8_t *data, size_t length)
{
    std::vector<uint8_t> packet(ETHERNET_HEADER + IP_HEADER + TCP_HEADER + length, 0);
    uint8_t *eth = packet.data();
    eth[5] = static_cast<uint8_t>(2 - side);  // MAC 00:00:00:00:00:01 the caller, :02 the listener
    eth[11] = static_cast<uint8_t>(1 + side);
    VKD_PutBE16(eth + 12, 0x0800);
    uint8_t *ip = eth + ETHERNET_HEADER;
    ip[0] = 0x45;
    VKD_PutBE16(ip + 2, static_cast<uint16_t>(IP_HEADER + TCP_HEADER + length));
    VKD_PutBE16(ip + 4, tcp.ipId++);
    VKD_PutBE16(ip + 6, 0x4000);  // don't fragment
    ip[8] = 64;
    ip[9] = 6;
    memcpy(ip + 12, LOOPBACK, 4);
    memcpy(ip + 16, LOOPBACK, 4);
    VKD_PutBE16(ip + 10, Checksum(ip, IP_HEADER, 0));
    uint8_t *t = ip + IP_HEADER;
    VKD_PutBE16(t, PORTS[side]);
    VKD_PutBE16(t + 2, PORTS[1 - side]);
    VKD_PutBE32(t + 4, tcp.seq[side]);
    VKD_PutBE32(t + 8, (flags & TCP_ACK) ? tcp.seq[1 - side] : 0);
    t[12] = (TCP_HEADER / 4) << 4;
    t[13] = flags;
    VKD_PutBE16(t + 14, 65535);
    if (length > 0) memcpy(t + TCP_HEADER, data, length);
    // Pseudo-header: addresses, protocol, TCP length.
    uint32_t sum = 2 * VKD_GetBE16(LOOPBACK) + 2 * VKD_GetBE16(LOOPBACK + 2) + 6 +
                   static_cast<uint32_t>(TCP_HEADER + length);
    VKD_PutBE16(t + 16, Checksum(t, TCP_HEADER + length, sum));
    tcp.seq[side] += static_cast<uint32_t>(length) + ((flags & (TCP_SYN | TCP_FIN)) ? 1 : 0);
    WriteRecord(tcp.file, Now(), packet.data(), packet.size());
    fflush(tcp.file);
}

}  // namespace

bool PcapTcp_Open(PcapTcp &tcp, const std::string &path)
{
    tcp.file = fopen(path.c_str(), "wb");
    if (tcp.file == nullptr) return false;
    if (!WriteFileHeader(tcp.file, VKD_PCAP_ETHERNET)) {
        fclose(tcp.file);
        tcp.file = nullptr;
        return false;
    }
    Packet(tcp, 0, TCP_SYN, nullptr, 0);
    Packet(tcp, 1, TCP_SYN | TCP_ACK, nullptr, 0);
    Packet(tcp, 0, TCP_ACK, nullptr, 0);
    return true;
}

void PcapTcp_Segment(PcapTcp &tcp, int side, const uint8_t *data, size_t length)
{
    if (tcp.file != nullptr) Packet(tcp, side, TCP_PSH | TCP_ACK, data, length);
}

void PcapTcp_Close(PcapTcp &tcp)
{
    if (tcp.file == nullptr) return;
    Packet(tcp, 0, TCP_FIN | TCP_ACK, nullptr, 0);
    Packet(tcp, 1, TCP_FIN | TCP_ACK, nullptr, 0);
    Packet(tcp, 0, TCP_ACK, nullptr, 0);
    fclose(tcp.file);
    tcp.file = nullptr;
}

int ExportScript(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        fprintf(stderr, "varnek script pcap: cannot read %s\n", path.c_str());
        return EXIT_FILE;
    }
#ifdef _WIN32
    _setmode(_fileno(stdout), _O_BINARY);
#else
    if (isatty(fileno(stdout))) {
        fputs("varnek script pcap: standard output is a terminal; redirect it to a file\n", stderr);
        return EXIT_USAGE;
    }
#endif
    std::vector<uint8_t> data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (!WriteFileHeader(stdout, VKD_PCAP_USER0)) return EXIT_FILE;
    uint64_t clock = 0;
    size_t at = 0;
    uint8_t type = 0;
    uint32_t length = 0;
    while (VKD_ScriptRecord(data.data() + at, data.size() - at, &type, &length)) {
        at += VKD_SCRIPT_RECORD_HEADER;
        if (length > data.size() - at) {
            fprintf(stderr, "varnek script pcap: %s: a record at byte %zu is cut short\n", path.c_str(),
                    at - VKD_SCRIPT_RECORD_HEADER);
            return EXIT_FILE;
        }
        const uint8_t *payload = data.data() + at;
        at += length;
        if (type == VKD_SCRIPT_PAUSE && length == 4) {
            uint32_t tenths = VKD_ScriptPause(payload, length);
            clock += tenths <= 2 ? tenths * 100000ull : REPLAY_PAUSE_US;
        } else if (type == VKD_SCRIPT_FRAME && length == 0) {
            clock += TIMEOUT_US;
        } else if (type == VKD_SCRIPT_FRAME) {
            clock += REPLAY_PAUSE_US;
            WriteRecord(stdout, clock, payload, length);
        }
    }
    if (at != data.size()) {
        fprintf(stderr, "varnek script pcap: %s: the last record is cut short\n", path.c_str());
        return EXIT_FILE;
    }
    return fflush(stdout) == 0 ? EXIT_OK : EXIT_FILE;
}
