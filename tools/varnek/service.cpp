#include "service.h"

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <thread>

#include "varnek_debug.h"
#include "varnek.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <pthread.h>
#endif

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto GRACE = std::chrono::seconds(1);

std::string shutdownText = "Centre shutting down";
std::atomic<int> stopSignal{0};
std::atomic<int> waitingThreads{0};
std::atomic<bool> wakeSet{false};
uint8_t wakeAddr[4] = {127, 0, 0, 1};
std::atomic<uint16_t> wakePort{0};

thread_local bool waiting = false;
thread_local bool delivered = false;
thread_local Clock::time_point hurryAfter = Clock::time_point::max();

int VKAPI StopCheck()
{
    if (Clock::now() >= hurryAfter) return 1;
    if (stopSignal.load() == 0) return 0;
    if (waiting) return 1;
    if (delivered) return 0;
    delivered = true;
    hurryAfter = Clock::now() + GRACE;
    return 1;
}

// A connection of our own ends the accept that a waiting listener is blocked in: one
// for each thread that waits (a parallel listener has many).
void WakeListener()
{
    if (!wakeSet.load()) return;
    for (int n = waitingThreads.load(); n > 0; --n) {
        int32_t s = VKD_NetSocket();
        if (s == VKD_NO_SOCKET) return;
        if (VKD_NetConnect(s, wakeAddr, wakePort.load()) != 0) VKD_NetConnectResult(s, 1000);
        VKD_NetClose(s);
    }
}

void Stop(int signal)
{
    if (stopSignal.exchange(signal) != 0) std::_Exit(1);  // a second signal: end at once
    WakeListener();
}

#ifdef _WIN32
BOOL WINAPI ConsoleEvent(DWORD)
{
    Stop(SIGINT);
    return TRUE;
}

void WatchSignals() { SetConsoleCtrlHandler(ConsoleEvent, TRUE); }
#else
void WatchSignals()
{
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &set, nullptr);  // threads started later inherit it
    std::thread([set]() {
        for (;;) {
            int signal = 0;
            if (sigwait(&set, &signal) == 0) Stop(signal);
        }
    }).detach();
}
#endif

}  // namespace

void Service_Start(const std::string &text)
{
    shutdownText = text;
    Session_NewMessage(VK_TEXT_PEER_ABORTED, shutdownText.c_str());
    ABORT_SetFunc(StopCheck);
    WatchSignals();
}

const std::string &Service_ShutdownText() { return shutdownText; }

bool Service_Stopping() { return stopSignal.load() != 0; }

const char *Service_Signal()
{
    int s = stopSignal.load();
    return s == SIGINT ? "SIGINT" : s == SIGTERM ? "SIGTERM" : s == 0 ? "" : "signal";
}

void Service_SetWakeTarget(const uint8_t addr[4], uint16_t port)
{
    bool any = addr[0] == 0 && addr[1] == 0 && addr[2] == 0 && addr[3] == 0;
    for (int i = 0; i < 4; ++i) wakeAddr[i] = any ? (i == 0 ? 127 : i == 3 ? 1 : 0) : addr[i];
    wakePort = port;
    wakeSet = true;
}

void Service_Waiting(bool on)
{
    if (on == waiting) return;
    waiting = on;
    waitingThreads += on ? 1 : -1;
}

bool Service_IsWaiting() { return waiting; }

void Service_NewSession()
{
    delivered = false;
    hurryAfter = Clock::time_point::max();
}

short Service_Abort(short id, const char *text)
{
    delivered = true;  // this abort is the stop's delivery
    hurryAfter = Clock::now() + GRACE;
    short rc = Session_Abort(id, text);
    hurryAfter = Clock::time_point::max();
    return rc;
}

bool Service_Sleep(long ms)
{
    auto end = Clock::now() + std::chrono::milliseconds(ms);
    while (Clock::now() < end) {
        if (Service_Stopping()) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}
