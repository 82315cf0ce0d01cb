// The active start of a link port: peer to peer, or the log-in to a centre (greeting,
// the 71-byte log-in record, the centre's answer).
#include "platform/platform.h"
#include "session/trace_hook.h"
#include "transport/abort.h"
#include "transport/linkapi.h"
#include "transport/login_record.h"
#include "varnek.h"

namespace {

constexpr uint16_t GREETING_SIZE = 6;
constexpr int LOGIN_SECONDS = 10;
constexpr uint8_t GREETING_REFUSES_BELOW = 2;

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
            uint8_t record[LOGIN_RECORD_SIZE];
            LOGIN_Build(record, centrePort);
            LINKAPI_Write(port, record, LOGIN_RECORD_SIZE);
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
