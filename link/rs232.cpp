// The serial-port component, loaded on first use; calls go through its functions.
#include "link/rs232.h"

#include <atomic>
#include <cstdio>
#include <mutex>

#include "platform/platform.h"
#include "varnek.h"

namespace {

#if defined(_WIN32)
constexpr const char *COMPONENT_FILE = "DRUMMEL.DLL";
#else
constexpr const char *COMPONENT_FILE = "libdrummel.so";
#endif

struct Component {
    short(VKAPI *open)(short, uint16_t, uint16_t, uint8_t, uint16_t, uint16_t, uint16_t, uint32_t);
    short(VKAPI *close)(short);
    short(VKAPI *setEorChar)(const char *);
    short(VKAPI *initCbuf)(short);
    short(VKAPI *send)(short, const void *, uint16_t);
    short(VKAPI *isTransmitted)(short);
    short(VKAPI *receiveCharWait)(short, uint8_t *);
    short(VKAPI *receiveChar)(short, uint8_t *);
    short(VKAPI *showRcvChar)(short, short, uint8_t *);
    short(VKAPI *getRecCount)(short);
    short(VKAPI *receiveClear)(short);
    short(VKAPI *isAbort)();
    short(VKAPI *isModem)(short);
    short(VKAPI *isCd)(short);
    short(VKAPI *writeDebug)(short, const char *, short);
    const char *(VKAPI *lastError)();  // optional: the component's reason for a refused open
};

// Loaded once, under a lock, by the first thread that needs it; the others wait for it.
Component component;
enum class State { NotTried, Loaded, Missing };
std::atomic<State> state{State::NotTried};
std::mutex loadLock;

template <typename Fn>
bool Find(void *library, const char *file, const char *name, Fn &fn)
{
    fn = reinterpret_cast<Fn>(Platform_FindSymbol(library, name));
    if (fn != nullptr) return true;
    fprintf(stderr, "Varnek: the serial-port component %s has no %s; serial links fail\n", file, name);
    return false;
}

bool Load()
{
    const char *file = Platform_GetEnv("VARNEK_DRUMMEL");
    if (file == nullptr || *file == '\0') file = COMPONENT_FILE;
    void *library = Platform_LoadLibrary(file);
    if (library == nullptr) {
        fprintf(stderr, "Varnek: the serial-port component %s cannot be loaded; serial links fail\n", file);
        return false;
    }
    Component c{};
    bool all = Find(library, file, "RS232_Open", c.open) && Find(library, file, "RS232_Close", c.close) &&
               Find(library, file, "RS232_SetEorChar", c.setEorChar) && Find(library, file, "RS232_InitCbuf", c.initCbuf) &&
               Find(library, file, "RS232_Send", c.send) && Find(library, file, "RS232_IsTransmitted", c.isTransmitted) &&
               Find(library, file, "RS232_ReceiveCharWait", c.receiveCharWait) &&
               Find(library, file, "RS232_ReceiveChar", c.receiveChar) &&
               Find(library, file, "RS232_ShowRcvChar", c.showRcvChar) &&
               Find(library, file, "RS232_GetRecCount", c.getRecCount) &&
               Find(library, file, "RS232_ReceiveClear", c.receiveClear) && Find(library, file, "RS232_IsAbort", c.isAbort) &&
               Find(library, file, "RS232_IsModem", c.isModem) && Find(library, file, "RS232_IsCd", c.isCd) &&
               Find(library, file, "RS232_WriteDebug", c.writeDebug);
    if (!all) return false;
    c.lastError = reinterpret_cast<const char *(VKAPI *)()>(Platform_FindSymbol(library, "DRUMMEL_LastError"));
    component = c;
    return true;
}

bool Loaded()
{
    State now = state;
    if (now != State::NotTried) return now == State::Loaded;
    std::lock_guard<std::mutex> guard(loadLock);
    now = state;
    if (now != State::NotTried) return now == State::Loaded;
    state = Load() ? State::Loaded : State::Missing;
    return state == State::Loaded;
}

}  // namespace

short RS232_Open(short port, uint16_t s1, uint16_t s2, uint8_t s3, uint16_t s4, uint16_t s5, uint16_t s6, uint32_t s7)
{
    return Loaded() ? component.open(port, s1, s2, s3, s4, s5, s6, s7) : 0;
}
const char *RS232_LastError()
{
    if (state != State::Loaded || component.lastError == nullptr) return "";
    const char *text = component.lastError();
    return text != nullptr ? text : "";
}
short RS232_Close(short port) { return Loaded() ? component.close(port) : 0; }
short RS232_SetEorChar(const char *chars) { return Loaded() ? component.setEorChar(chars) : 0; }
short RS232_InitCbuf(short port) { return Loaded() ? component.initCbuf(port) : 0; }
short RS232_Send(short port, const void *bytes, uint16_t length)
{
    return Loaded() ? component.send(port, bytes, length) : 0;
}
short RS232_IsTransmitted(short port) { return Loaded() ? component.isTransmitted(port) : 1; }
short RS232_ReceiveCharWait(short port, uint8_t *c) { return Loaded() ? component.receiveCharWait(port, c) : -1; }
short RS232_ReceiveChar(short port, uint8_t *c) { return Loaded() ? component.receiveChar(port, c) : 0; }
short RS232_ShowRcvChar(short port, short place, uint8_t *c)
{
    return Loaded() ? component.showRcvChar(port, place, c) : 0;
}
short RS232_GetRecCount(short port) { return Loaded() ? component.getRecCount(port) : 0; }
short RS232_ReceiveClear(short port) { return Loaded() ? component.receiveClear(port) : 0; }
short RS232_IsAbort() { return Loaded() ? component.isAbort() : 0; }
short RS232_IsModem(short port) { return Loaded() ? component.isModem(port) : 0; }
short RS232_IsCd(short port) { return Loaded() ? component.isCd(port) : 1; }
short RS232_WriteDebug(short channel, const char *text, short number)
{
    return Loaded() ? component.writeDebug(channel, text, number) : 0;
}
