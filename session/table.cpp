// The session table and the life of a session: reset, create, close, abort, release.
#include "session/session.h"

#include <array>
#include <atomic>
#include <cstring>

#include "platform/platform.h"
#include "transport/tcpapi.h"
#include "zip/registry.h"
#include "zip/zip.h"

static_assert(REGISTRY_SLOTS == SESSION_MAX, "every session id has its own compression registry slot");

namespace {

// Slots are read without the lock (each session's own thread, the automatic choice of a
// slot) while a release on another thread empties its own slot: hence atomics.  A record
// is published with release order, so the thread that finds it sees it whole.
std::array<std::atomic<SessionRecord *>, SESSION_MAX> sessionTable{};
std::array<std::atomic<int64_t>, SESSION_MAX> closeTime{};  // release stamp in seconds; 0 = none
PlatformLock tableLock;
bool tableLockReady = false;

// The stamp of a slot being released: automatic choice skips it (no clock reaches it).
constexpr int64_t SLOT_RELEASING = INT64_MAX - SESSION_SLOT_HOLD_SECONDS;

bool SlotQualifies(int slot, int64_t now)
{
    if (sessionTable[slot].load(std::memory_order_acquire) != nullptr) return false;
    int64_t stamp = closeTime[slot].load(std::memory_order_relaxed);
    return stamp == 0 || now > stamp + SESSION_SLOT_HOLD_SECONDS;
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

// A reset drops a session without a word to the peer: its memory, compression
// contexts and socket go, nothing is sent.
void Drop(int16_t id)
{
    SessionRecord *rec = sessionTable[id].load(std::memory_order_acquire);
    if (rec == nullptr) return;
    ZIP_ZipDelete(static_cast<uint16_t>(id));
    ZIP_UnzipDelete(static_cast<uint16_t>(id));
    Session_TransportDrop(rec);
    FreeRecord(rec);
    sessionTable[id].store(nullptr, std::memory_order_relaxed);
}

}  // namespace

SessionRecord *Session_Record(int16_t id)
{
    return Session_IdInRange(id) ? sessionTable[id].load(std::memory_order_acquire) : nullptr;
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
    Session_TransportClose(rec);
    FreeRecord(rec);
    sessionTable[id].store(nullptr, std::memory_order_release);
    if (pause == ReleasePause::Yes) Session_PauseSeconds(SESSION_RELEASE_PAUSE_SECONDS);
}

void Session_StampSlot(int16_t id)
{
    if (Session_IdInRange(id)) closeTime[id].store(Platform_Time(), std::memory_order_relaxed);
}

void Session_ReleaseAndStamp(int16_t id, ReleasePause pause)
{
    if (!Session_IdInRange(id)) {
        Session_Release(id, pause);
        return;
    }
    // Marked before the slot empties, so no other thread's automatic choice takes it in
    // between; stamped once released unless a Session_Create took it meanwhile.
    int64_t releasing = SLOT_RELEASING;
    closeTime[id].store(releasing, std::memory_order_relaxed);
    Session_Release(id, pause);
    closeTime[id].compare_exchange_strong(releasing, Platform_Time(), std::memory_order_relaxed);
}

short Session_ReleaseStamped(int16_t id)
{
    Session_ReleaseAndStamp(id, ReleasePause::No);
    return VK_FAIL;
}

short Session_CheckOpened(int16_t id)
{
    if (!Session_IdInRange(id)) {
        Session_OutputMsg(-1, Session_Text(VK_TEXT_WRONG_INDEX));
        return VK_FAIL;
    }
    SessionRecord *rec = Session_Record(id);
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
    for (auto &stamp : closeTime) stamp.store(0, std::memory_order_relaxed);
    Session_DefaultMessages();
    ZIP_ZipReset();
    ZIP_UnzipReset();
    ZIP_DefReset();
    Session_TransportReset();
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
    SessionRecord *rec = sessionTable[slot].load(std::memory_order_acquire);
    if (rec == nullptr) {
        rec = AllocateRecord();
        sessionTable[slot].store(rec, std::memory_order_release);
    }
    Platform_LockLeave(&tableLock);
    if (rec == nullptr) {
        Session_DebugErr(-1, "Session Create Error");
        return VK_FAIL;
    }
    closeTime[slot].store(0, std::memory_order_relaxed);
    Session_DebugMsg(static_cast<short>(slot), "Session Created");
    return VK_DONE;
}

short Session_Close(VK_ID word)
{
    int16_t id = Session_IdFromWord(word);
    if (Session_CheckOpened(id) != VK_DONE) return VK_FAIL;
    SessionRecord *rec = Session_Record(id);
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
