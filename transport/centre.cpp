// The active start of a link port: peer to peer, or the log-in to a centre (greeting,
// the 71-byte log-in record, the centre's answer).
#include <cstring>

#include "platform/platform.h"
#include "session/trace_hook.h"
#include "support/bytes.h"
#include "transport/abort.h"
#include "transport/linkapi.h"
#include "varnek.h"

namespace {

constexpr uint16_t GREETING_SIZE = 6;
constexpr uint16_t LOGIN_SIZE = 71;
constexpr int LOGIN_SECONDS = 10;
constexpr uint8_t GREETING_REFUSES_BELOW = 2;

// The fixed log-in record naming centrePort.
void BuildLogIn(uint8_t (&record)[LOGIN_SIZE], uint16_t centrePort)
{
    memset(record, 0, sizeof record);
    Bytes_PutBE32(record + 0, 1);
    Bytes_PutBE32(record + 4, 2);
    Bytes_PutBE16(record + 8, 3);
    Bytes_PutBE16(record + 10, centrePort);
    memcpy(record + 19, "61294", 5);
    memcpy(record + 24, "9081726354453627", 16);
    memcpy(record + 42, "61294", 5);
    memcpy(record + 47, "9081726354453627", 16);
    memcpy(record + 63, "86420975", 8);
}

void Report(int16_t port, const char *text) { Session_DebugMsg(port, text); }

// Waits for the clock's next second before another try, so that a link that fails at
// once is tried about once a second, not in a busy loop: false when the abort callback
// asks to stop.
bool PauseBeforeRetry()
{
    int64_t second = Platform_Time();
    while (Platform_Time() == second) {
        if (ABORT_Check()) return false;
        Platform_SleepMs(PLATFORM_POLL_MS);
    }
    return true;
}

}  // namespace

int16_t LINKAPI_Open(int16_t port, uint16_t centrePort)
{
    LinkApiPort *p = LINKAPI_Port(port);
    if (p == nullptr) return LINKAPI_FAILED;
    p->rxFill = 0;
    p->txFill = 0;
    p->lineTurn = LINKAPI_TURN_PEER;
    p->nextBlockNo = 1;
    p->recLimit = p->recSize;
    if (p->p2p) {
        p->lineTurn = LINKAPI_TURN_THIS;  // this side sends first
        Report(port, "p2p connection");
        return LINKAPI_DONE;
    }
    Report(port, "LogIn to Center");
    int64_t start = Platform_Time();
    for (;;) {
        uint8_t greeting[8] = {};
        uint16_t count = GREETING_SIZE;
        int16_t rc = LINKAPI_Read(port, greeting, &count);
        if (rc == LINKAPI_ABORTED) return LINKAPI_FAILED;
        if (rc == LINKAPI_DONE) {
            if (greeting[0] < GREETING_REFUSES_BELOW) {
                Report(port, "Center Deny");
                return LINKAPI_FAILED;
            }
            uint8_t record[LOGIN_SIZE];
            BuildLogIn(record, centrePort);
            LINKAPI_Write(port, record, LOGIN_SIZE);
            uint8_t answer[4];
            uint16_t any = LINKAPI_ANY_FRAME;
            if (LINKAPI_Read(port, answer, &any) == LINKAPI_DONE) {
                Report(port, "LogIn Success");
                return LINKAPI_DONE;
            }
            Report(port, "LogIn Failed");
            return LINKAPI_FAILED;
        }
        if (Platform_Time() - start > LOGIN_SECONDS) {
            Report(port, "LogIn Timeout");
            return LINKAPI_FAILED;
        }
        if (!PauseBeforeRetry()) return LINKAPI_FAILED;
    }
}
