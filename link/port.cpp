// Bringing a serial port under the link and taking it out: open, connect, reset, close
// with port 1's statistics, throughput, and the general debug channel.
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "link/link.h"
#include "link/rs232.h"
#include "platform/platform.h"

namespace {

constexpr size_t DIAG_BUFFER = 512;
constexpr size_t DIAG_MAX_CHARS = 502;
constexpr short GENERAL_DEBUG_CHANNEL = 1;

// The link's frame buffers are static: there is nothing to prepare.
bool BUFFERS_Init() { return true; }

void Restart(short port, LinkPort &p)
{
    LINK_ResetSeq(p);
    p.lastTxLength = 0;
    RS232_InitCbuf(port);
    LINK_PutDiag(port, -1);
}

}  // namespace

extern "C" {

short LINK_Open(short port, uint16_t s1, uint16_t s2, uint8_t s3, uint16_t s4, uint16_t s5, uint16_t s6, uint32_t s7)
{
    LinkPort *p = LINK_Port(port);
    if (p == nullptr) return 0;
    p->maxRetry = LINK_DEFAULT_RETRIES;
    if (RS232_Open(port, s1, s2, s3, s4, s5, s6, s7) == 0) {
        LINK_Trace(port, "RS232_Open Error");
        return 0;
    }
    if (!BUFFERS_Init()) {
        LINK_Trace(port, "BUFFERS_Init Error");
        RS232_Close(port);
        return 0;
    }
    static const char endOfRecord[] = {0x0D, 0};
    RS232_SetEorChar(endOfRecord);
    RS232_InitCbuf(port);
    LINK_ResetSeq(*p);
    p->dir = 1;
    p->lastTxLength = 0;
    LINK_PutDiag(port, -1);
    if (port == 1) memset(&LINK_Stats(), 0, sizeof(LinkStats));
    return 1;
}

short LINK_Close(short port)
{
    if (port == 1) {
        const LinkStats &s = LINK_Stats();
        long retransmitted = 0, maximum = 0;
        int counted = s.events < LINK_RETRY_SLOTS ? s.events : LINK_RETRY_SLOTS;
        for (int e = 0; e < counted; ++e) {
            retransmitted += s.retries[e];
            if (s.retries[e] > maximum) maximum = s.retries[e];
        }
        LINK_Trace(port, "Transmitted frames = %ld", static_cast<long>(s.frames));
        LINK_Trace(port, "Number of events = %ld", static_cast<long>(s.events));
        LINK_Trace(port, "Retransmitted frames = %ld", retransmitted);
        LINK_Trace(port, "Maximum number of retries = %ld", maximum);
    }
    return RS232_Close(port);
}

short LINK_Connect(short port)
{
    LinkPort *p = LINK_Port(port);
    if (p == nullptr) return 0;
    if (RS232_IsModem(port) != 0) {
        if (RS232_IsCd(port) == 0) return 0;
    } else if (LINK_Stx(port) == 0) {
        return 0;
    }
    Restart(port, *p);
    return 1;
}

short LINK_Init(short port)
{
    LinkPort *p = LINK_Port(port);
    if (p == nullptr) return 1;
    Restart(port, *p);
    return 1;
}

short LINK_GetDiag(short port, char *out)
{
    LinkPort *p = LINK_Port(port);
    int64_t now = Platform_Time();
    if (p == nullptr || now == p->countStart) return static_cast<short>(snprintf(out, 12, "0"));
    uint32_t rate = static_cast<uint32_t>(p->byteCount) / static_cast<uint32_t>(now - p->countStart);
    return static_cast<short>(snprintf(out, 12, "%lu", static_cast<unsigned long>(rate)));
}

short LINK_Diag(const char *format, ...)
{
    char text[DIAG_BUFFER];
    va_list args;
    va_start(args, format);
    vsnprintf(text, sizeof text, format, args);
    va_end(args);
    text[DIAG_MAX_CHARS] = '\0';
    return RS232_WriteDebug(GENERAL_DEBUG_CHANNEL, text, static_cast<short>(strlen(text)));
}

}  // extern "C"
