// DRUMMEL: the serial-port functions the Varnek link calls, over the lines of line.h.
#include "drummel.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "capture.h"
#include "line.h"

namespace {

constexpr int PORT_FIRST = 1;
constexpr int PORT_LAST = 500;
constexpr uint32_t DEFAULT_WAIT_MS = 1000;
constexpr uint32_t DEFAULT_BUFFER = 8192;
constexpr uint32_t LARGEST_BUFFER = 1u << 20;
constexpr uint32_t SLICE_MS = 10;
constexpr uint32_t QUIET_MIN_MS = 20;
constexpr uint32_t QUIET_CHARACTERS = 20;

struct Port {
    bool open = false;
    Line line;
    std::vector<uint8_t> ring;  // bytes received and not yet taken
    size_t head = 0;            // first waiting byte
    size_t count = 0;
    uint32_t waitMs = DEFAULT_WAIT_MS;
    uint32_t quietMs = QUIET_MIN_MS;
    uint64_t jitter = 1;  // state of the generator that spreads the character waits
    bool gone = false;    // the line went away (hang-up, unplugged, peer closed)
    bool heard = false;   // bytes came in since the port last sent
};

Port ports[PORT_LAST + 1];
std::atomic<int> abortRequested{0};
std::string endOfRecord;
std::string lastError;

Port *Open(short port)
{
    if (port < PORT_FIRST || port > PORT_LAST || !ports[port].open) return nullptr;
    return &ports[port];
}

std::string ConfiguredLine(short port)
{
    std::string name = "DRUMMEL_PORT" + std::to_string(port);
    const char *spec = getenv(name.c_str());
    if (spec != nullptr && *spec != '\0') return spec;
#ifdef _WIN32
    return "\\\\.\\COM" + std::to_string(port);
#else
    return "/dev/ttyS" + std::to_string(port - 1);
#endif
}

// Moves what the line holds into the port's buffer, as much as it has room for: the
// rest waits in the line, so a peer that sends without pause cannot hold a call here.
// A line that has gone away is marked so, and every wait then ends at once.
void Pump(Port &p)
{
    uint8_t chunk[4096];
    while (p.count < p.ring.size()) {
        size_t room = p.ring.size() - p.count < sizeof chunk ? p.ring.size() - p.count : sizeof chunk;
        int n = Line_Read(p.line, chunk, room);
        if (n < 0) p.gone = true;
        if (n > 0) p.gone = false;  // a listening line that took a new caller
        if (n > 0) p.heard = true;
        if (n <= 0) return;
        Capture_Received(static_cast<short>(&p - ports), chunk, static_cast<size_t>(n));
        for (int i = 0; i < n; ++i) {
            p.ring[(p.head + p.count) % p.ring.size()] = chunk[i];
            ++p.count;
        }
        if (static_cast<size_t>(n) < room) return;  // a short read took all there was
    }
}

void WriteDebugLine(short channel, const char *text)
{
    const char *path = getenv("DRUMMEL_DEBUG");
    if (path == nullptr || *path == '\0') return;
    FILE *f = fopen(path, "a");
    if (f == nullptr) return;
    fprintf(f, "%d %s\n", channel, text != nullptr ? text : "");
    fclose(f);
}

// Keeps the reason an open failed and writes it on the general debug channel.
short Refuse(short port, const std::string &why)
{
    lastError = "RS232_Open port " + std::to_string(port) + ": " + why;
    WriteDebugLine(1, lastError.c_str());
    return 0;
}

// The seven settings, or the reason they cannot be had.
bool ReadSettings(uint16_t s1, uint16_t s2, uint8_t s3, uint16_t s4, uint16_t s5, LineSettings &out, std::string &why)
{
    out.baud = s1 != 0 ? static_cast<uint32_t>(s1) * 100 : 9600;
    if (s2 != 0 && (s2 < 5 || s2 > 8)) why = "data bits " + std::to_string(s2) + " (5 to 8)";
    out.dataBits = s2 != 0 ? s2 : 8;
    char parity = s3 == 0 ? 'N' : static_cast<char>(s3 >= 'a' && s3 <= 'z' ? s3 - 'a' + 'A' : s3);
    if (parity != 'N' && parity != 'E' && parity != 'O') why = "parity " + std::to_string(s3) + " (N, E or O)";
    out.parity = parity;
    if (s4 > 2) why = "stop bits " + std::to_string(s4) + " (1 or 2)";
    out.stopBits = s4 == 2 ? 2 : 1;
    if (s5 > 2) why = "flow control " + std::to_string(s5) + " (0 none, 1 RTS/CTS, 2 XON/XOFF)";
    out.flow = s5;
    return why.empty();
}

bool Take(Port &p, uint8_t *c)
{
    if (p.count == 0) return false;
    *c = p.ring[p.head];
    p.head = (p.head + 1) % p.ring.size();
    --p.count;
    return true;
}

void Clear(Port &p)
{
    Line_Flush(p.line);
    Pump(p);
    p.head = p.count = 0;
}

// The character wait of this moment.  An end that has heard bytes since it last sent
// (most likely a frame that arrived damaged) waits two to two and a half waits; an end
// that has heard nothing waits one to one and a half.  So after a damaged frame the end
// that sent it, which has heard nothing, sends again first, while its peer is still
// listening; and two ends in the same state, drawing afresh each time, drift apart
// instead of each sending while the other clears its line of noise.
uint32_t SpreadWait(Port &p)
{
    p.jitter ^= p.jitter << 13;
    p.jitter ^= p.jitter >> 7;
    p.jitter ^= p.jitter << 17;
    uint32_t base = p.heard ? 2 * p.waitMs : p.waitMs;
    return base + static_cast<uint32_t>(p.jitter % (p.waitMs / 2 + 1));
}

// Waits for one byte, asking the abort flag between slices.  A wait that ends while
// the port's own bytes are still leaving starts again: an answer cannot come before
// the question has gone out, however slow the line.
bool WaitForByte(Port &p, uint8_t *c, uint32_t ms)
{
    if (Take(p, c)) return true;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    for (;;) {
        if (abortRequested) return false;
        auto now = std::chrono::steady_clock::now();
        if (now >= deadline && !Line_Drained(p.line)) deadline = now + std::chrono::milliseconds(ms);
        if (now >= deadline) return false;
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now).count();
        Line_Wait(p.line, static_cast<uint32_t>(left < SLICE_MS ? left + 1 : SLICE_MS));  // at once when bytes wait
        Pump(p);
        if (Take(p, c)) return true;
        if (p.gone) return false;
    }
}

}  // namespace

extern "C" {

short RS232_Open(short port, uint16_t s1, uint16_t s2, uint8_t s3, uint16_t s4, uint16_t s5, uint16_t s6, uint32_t s7)
{
    if (port < PORT_FIRST || port > PORT_LAST) return Refuse(port, "no such port (1 to 500)");
    if (ports[port].open) return Refuse(port, "already open");
    LineSettings settings;
    std::string why;
    if (!ReadSettings(s1, s2, s3, s4, s5, settings, why)) return Refuse(port, "unusable setting: " + why);
    if (s7 > LARGEST_BUFFER) {
        return Refuse(port, "receive buffer of " + std::to_string(s7) + " bytes (at most " +
                                std::to_string(LARGEST_BUFFER) + ")");
    }
    Port &p = ports[port];
    std::string spec = ConfiguredLine(port);
    if (!Line_Open(p.line, spec.c_str(), settings, why)) {
        p.line = Line{};
        return Refuse(port, why);
    }
    p.ring.assign(s7 != 0 ? s7 : DEFAULT_BUFFER, 0);
    p.head = p.count = 0;
    p.waitMs = s6 != 0 ? s6 : DEFAULT_WAIT_MS;
    uint32_t quiet = QUIET_CHARACTERS * 10000 / settings.baud;
    p.quietMs = quiet < QUIET_MIN_MS ? QUIET_MIN_MS : quiet;
    if (p.quietMs > p.waitMs) p.quietMs = p.waitMs;
    p.jitter = static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()) * 2654435761u + port;
    if (p.jitter == 0) p.jitter = 1;
    p.gone = false;
    p.open = true;
    Capture_Open(port);
    return 1;
}

short RS232_Close(short port)
{
    Port *p = Open(port);
    if (p == nullptr) return 0;
    Line_Close(p->line);
    Capture_Close(port);
    p->ring.clear();
    p->open = false;
    return 1;
}

short RS232_SetEorChar(const char *chars)
{
    endOfRecord = chars != nullptr ? chars : "";
    return 1;
}

short RS232_InitCbuf(short port)
{
    Port *p = Open(port);
    if (p == nullptr) return 0;
    Clear(*p);
    p->gone = false;
    return 1;
}

short RS232_Send(short port, const void *bytes, uint16_t length)
{
    Port *p = Open(port);
    if (p == nullptr) return 0;
    p->heard = false;
    if (!Line_Write(p->line, static_cast<const uint8_t *>(bytes), length)) return 0;
    Capture_Sent(port, static_cast<const uint8_t *>(bytes), length);
    return 1;
}

short RS232_IsTransmitted(short port)
{
    Port *p = Open(port);
    return p == nullptr || Line_Drained(p->line) ? 1 : 0;
}

short RS232_ReceiveCharWait(short port, uint8_t *c)
{
    Port *p = Open(port);
    if (p == nullptr || c == nullptr) return -1;
    return WaitForByte(*p, c, SpreadWait(*p)) ? 1 : -1;
}

short RS232_ReceiveChar(short port, uint8_t *c)
{
    Port *p = Open(port);
    if (p == nullptr || c == nullptr) return 0;
    return WaitForByte(*p, c, p->quietMs) ? 1 : 0;
}

short RS232_ShowRcvChar(short port, short place, uint8_t *c)
{
    Port *p = Open(port);
    if (p == nullptr || c == nullptr || place < 0) return 0;
    Pump(*p);
    if (static_cast<size_t>(place) >= p->count) return 0;
    *c = p->ring[(p->head + static_cast<size_t>(place)) % p->ring.size()];
    return 1;
}

short RS232_GetRecCount(short port)
{
    Port *p = Open(port);
    if (p == nullptr) return 0;
    Pump(*p);
    return static_cast<short>(p->count > 32767 ? 32767 : p->count);
}

short RS232_ReceiveClear(short port)
{
    Port *p = Open(port);
    if (p == nullptr) return 0;
    Clear(*p);
    return 1;
}

short RS232_IsAbort(void) { return abortRequested ? 1 : 0; }

short RS232_IsModem(short port)
{
    Port *p = Open(port);
    return p != nullptr && p->line.modem ? 1 : 0;
}

short RS232_IsCd(short port)
{
    Port *p = Open(port);
    if (p == nullptr) return 0;
    return static_cast<short>(Line_Carrier(p->line));
}

short RS232_WriteDebug(short channel, const char *text, short number)
{
    (void)number;
    const char *path = getenv("DRUMMEL_DEBUG");
    if (path == nullptr || *path == '\0') return 0;
    WriteDebugLine(channel, text);
    return 1;
}

const char *DRUMMEL_LastError(void) { return lastError.c_str(); }

void DRUMMEL_SetAbort(int on) { abortRequested = on != 0 ? 1 : 0; }

}  // extern "C"
