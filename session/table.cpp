// The session table and the life of a session: reset, create, close, abort, release.
#include "session/session.h"

#include <array>
#include <cstring>

#include "platform/platform.h"
#include "transport/linkapi.h"
#include "transport/tcpapi.h"
#include "zip/zip.h"

namespace {

std::array<SessionRecord *, SESSION_MAX> sessionTable{};
std::array<int64_t, SESSION_MAX> closeTime{};  // release stamp in seconds; 0 = none
PlatformLock tableLock;
bool tableLockReady = false;

constexpr uint16_t LINK_PORT_FIRST = 1;
constexpr uint16_t LINK_PORT_LAST = 500;

bool SlotQualifies(int slot, int64_t now)
{
    if (sessionTable[slot] != nullptr) return false;
    return closeTime[slot] == 0 || now > closeTime[slot] + SESSION_SLOT_HOLD_SECONDS;
}

int ChooseSlot()
{
    int64_t now = Platform_Time();
    for (int slot = 0; slot < SESSION_MAX; ++slot) {
        if (SlotQualifies(slot, now)) return slot;
    }
    return -1;
}

void FreeRecord(SessionRecord *rec)
{
    Mem_Free("SEST", rec->txBuffer);
    Mem_Free("SESR", rec->rxBuffer);
    Mem_Free("SESS", rec);
}

SessionRecord *AllocateRecord()
{
    auto *rec = static_cast<SessionRecord *>(Mem_Malloc("SESS", sizeof(SessionRecord)));
    if (rec == nullptr) return nullptr;
    memset(rec, 0, sizeof *rec);
    rec->handle = SESSION_NO_HANDLE;
    rec->txBuffer = static_cast<uint8_t *>(Mem_Malloc("SEST", SESSION_BUFFER_SIZE));
    rec->rxBuffer = static_cast<uint8_t *>(Mem_Malloc("SESR", SESSION_BUFFER_SIZE));
    if (rec->txBuffer == nullptr || rec->rxBuffer == nullptr) {
        FreeRecord(rec);
        return nullptr;
    }
    return rec;
}

void CloseTransport(const SessionRecord *rec)
{
    if (rec->linkPort == 0) {
        TCPAPI_Close(rec->handle);
        return;
    }
    LINKAPI_Push(static_cast<int16_t>(rec->linkPort));
}

// A reset drops a session without a word to the peer: its memory, compression
// contexts and socket go, nothing is sent.
void Drop(int16_t id)
{
    SessionRecord *rec = sessionTable[id];
    if (rec == nullptr) return;
    ZIP_ZipDelete(static_cast<uint16_t>(id));
    ZIP_UnzipDelete(static_cast<uint16_t>(id));
    if (rec->linkPort == 0) TCPAPI_Close(rec->handle);
    FreeRecord(rec);
    sessionTable[id] = nullptr;
}

}  // namespace

SessionRecord *Session_Record(int16_t id)
{
    return Session_IdInRange(id) ? sessionTable[id] : nullptr;
}

void Session_PauseSeconds(int seconds)
{
    int64_t start = Platform_Time();
    while (Platform_Time() - start <= seconds) Platform_SleepMs(PLATFORM_POLL_MS);
}

void Session_Release(int16_t id, ReleasePause pause)
{
    SessionRecord *rec = Session_Record(id);
    if (rec == nullptr) return;
    rec->opened = 0;
    rec->turn = TURN_NONE;
    rec->passivePrepared = 0;
    rec->aborting = 0;
    ZIP_ZipDelete(static_cast<uint16_t>(id));
    ZIP_UnzipDelete(static_cast<uint16_t>(id));
    CloseTransport(rec);
    FreeRecord(rec);
    sessionTable[id] = nullptr;
    if (pause == ReleasePause::Yes) Session_PauseSeconds(SESSION_RELEASE_PAUSE_SECONDS);
}

void Session_StampSlot(int16_t id)
{
    if (Session_IdInRange(id)) closeTime[id] = Platform_Time();
}

short Session_ReleaseStamped(int16_t id)
{
    Session_Release(id, ReleasePause::No);
    Session_StampSlot(id);
    return VK_FAIL;
}

short Session_CheckOpened(int16_t id)
{
    if (!Session_IdInRange(id)) {
        Session_OutputMsg(-1, Session_Text(VK_TEXT_WRONG_INDEX));
        return VK_FAIL;
    }
    SessionRecord *rec = sessionTable[id];
    if (rec == nullptr) return VK_FAIL;
    if (!rec->opened) {
        Session_Fail(id, Session_Text(VK_TEXT_NOT_OPENED));
        return VK_FAIL;
    }
    return VK_DONE;
}

extern "C" {

void Session_Reset(void)
{
    Session_ForgetDisplay();
    if (!tableLockReady) {
        Platform_LockInit(&tableLock);
        tableLockReady = true;
    }
    for (int16_t id = 0; id < SESSION_MAX; ++id) Drop(id);
    closeTime.fill(0);
    Session_DefaultMessages();
    ZIP_ZipReset();
    ZIP_UnzipReset();
    ZIP_DefReset();
    TCPAPI_Init();
    for (uint16_t port = LINK_PORT_FIRST; port <= LINK_PORT_LAST; ++port) {
        LINKAPI_Reset(static_cast<int16_t>(port));
    }
}

short Session_Create(short *idp)
{
    if (idp == nullptr || *idp < -1 || *idp >= SESSION_MAX) {
        Session_DebugErr(-1, "Wrong SessionId");
        return VK_FAIL;
    }
    if (!tableLockReady) {
        Session_DebugErr(-1, "Session Create Error");
        return VK_FAIL;
    }
    Platform_LockEnter(&tableLock);
    int slot = *idp;
    if (slot == -1) {
        slot = ChooseSlot();
        if (slot < 0) {
            Platform_LockLeave(&tableLock);
            Session_DebugErr(-1, "Session Create Error");
            return VK_FAIL;
        }
        *idp = static_cast<short>(slot);
    }
    if (sessionTable[slot] == nullptr) sessionTable[slot] = AllocateRecord();
    Platform_LockLeave(&tableLock);
    if (sessionTable[slot] == nullptr) {
        Session_DebugErr(-1, "Session Create Error");
        return VK_FAIL;
    }
    closeTime[slot] = 0;
    Session_DebugMsg(static_cast<short>(slot), "Session Created");
    return VK_DONE;
}

short Session_Close(VK_ID word)
{
    int16_t id = Session_IdFromWord(word);
    if (Session_CheckOpened(id) != VK_DONE) return VK_FAIL;
    SessionRecord *rec = sessionTable[id];
    rec->txClose = 1;
    rec->txEnd = 1;
    rec->closeCode = CLOSE_ORDERLY;
    if (rec->turn != TURN_SEND) {
        Session_Fail(id, Session_Text(VK_TEXT_OUT_OF_TURN));
        return VK_FAIL;
    }
    if (ZIP_ZipFlush(static_cast<uint16_t>(id), rec->txBuffer) != 0) {
        Session_Fail(id, Session_Text(VK_TEXT_ZIP_FAILURE));
        return VK_FAIL;
    }
    Session_Release(id, ReleasePause::Yes);
    return VK_DONE;
}

void Session_CloseAll(void)
{
    for (int id = 0; id < SESSION_MAX; ++id) Session_Close(id);
    if (tableLockReady) {
        Platform_LockDelete(&tableLock);
        tableLockReady = false;
    }
}

short Session_Abort(VK_ID word, const char *text)
{
    int16_t id = Session_IdFromWord(word);
    if (Session_CheckOpened(id) != VK_DONE) return VK_FAIL;
    return Session_SendAbort(id, CLOSE_HOST_ABORT, text);
}

void Session_BlockingMode(VK_ID word, uint16_t mode)
{
    SessionRecord *rec = Session_Record(Session_IdFromWord(word));
    if (rec != nullptr) rec->blocking = mode;
}

void SESSION_SetTimeout(uint32_t milliseconds)
{
    TCPAPI_SetTimeout(static_cast<int32_t>(milliseconds));
}

}  // extern "C"
