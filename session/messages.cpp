// Status texts, the display path and the failure step of the session layer.
#include <array>
#include <atomic>
#include <cstring>

#include "session/session.h"

namespace {

// Process-wide, set by one thread while sessions on others read them.
std::atomic<VK_DISPFUNC> displayFunc{nullptr};
std::atomic<SessionDebugSink> debugSink{nullptr};
std::array<std::atomic<const char *>, VK_TEXT_COUNT> messageTable{};

constexpr size_t LINE_MAX_CHARS = 80;
constexpr uint16_t DISPLAY_KIND = 1;
constexpr uint16_t DEFAULT_PORT = 1;

struct DefaultText {
    uint16_t index;
    const char *text;
};

constexpr std::array<DefaultText, 12> DEFAULT_TEXTS{{
    {VK_TEXT_ALREADY_OPENED, "Session already opened!"},
    {VK_TEXT_NOT_OPENED, "Session Not opened!"},
    {VK_TEXT_WRONG_INDEX, "Wrong Session Index!"},
    {VK_TEXT_OUT_OF_TURN, "Out of Rx-Tx synchronization!"},
    {VK_TEXT_OUT_OF_STRUCT, "Out of Structure synchronization!"},
    {VK_TEXT_ABORTED, "Session Aborted"},
    {VK_TEXT_UNEXPECTED, "Unexpected Frame"},
    {VK_TEXT_ZIP_SETUP, "Error setting Zip"},
    {VK_TEXT_UNZIP_SETUP, "Error setting UnZip"},
    {VK_TEXT_PEER_ABORTED, "Session Aborted by other side"},
    {VK_TEXT_HARDWARE, "Hardware Level Failure or T.O."},
    {VK_TEXT_ZIP_FAILURE, "ZIP Level Failure"},
}};

}  // namespace

const char *Session_Text(int index)
{
    return (index >= 0 && index < VK_TEXT_COUNT) ? messageTable[index].load(std::memory_order_acquire) : nullptr;
}

void Session_ForgetDisplay() { displayFunc.store(nullptr, std::memory_order_release); }

void Session_SetDebugSink(SessionDebugSink sink) { debugSink.store(sink, std::memory_order_release); }

void Session_Fail(int16_t id, const char *text)
{
    Session_OutputMsg(id, text);
    Session_ReleaseAndStamp(id, ReleasePause::Yes);
}

extern "C" {

void SESSION_SetDispFunc(VK_DISPFUNC fn) { displayFunc.store(fn, std::memory_order_release); }

void SESSION_Disp(uint16_t port, const char *text, uint16_t kind)
{
    VK_DISPFUNC fn = displayFunc.load(std::memory_order_acquire);
    if (fn != nullptr) fn(port, text, kind);
}

void Session_OutputMsg(short id, const char *text)
{
    char line[128];
    size_t n = text != nullptr ? strnlen(text, LINE_MAX_CHARS) : 0;
    if (n > 0) memcpy(line, text, n);
    line[n] = '\0';
    char *cr = strchr(line, '\r');
    if (cr != nullptr) *cr = ';';
    uint16_t port = APPCOM_Ses2Port(id);
    SESSION_Disp(port != 0 ? port : DEFAULT_PORT, line, DISPLAY_KIND);
}

void Session_DefaultMessages(void)
{
    for (const DefaultText &d : DEFAULT_TEXTS) messageTable[d.index].store(d.text, std::memory_order_release);
}

void Session_NewMessage(uint16_t index, const char *text)
{
    if (index < VK_TEXT_COUNT) messageTable[index].store(text, std::memory_order_release);
}

// The debug hooks accept their arguments and show nothing (a program of this project
// may watch Session_DebugMsg through Session_SetDebugSink).
void Session_DebugMsg(short id, const char *text)
{
    SessionDebugSink sink = debugSink.load(std::memory_order_acquire);
    if (sink != nullptr) sink(id, text);
}
void Session_DebugErr(short, const char *) {}
void Session_BugDebugMsg(short, const char *) {}

}  // extern "C"
