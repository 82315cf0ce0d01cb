// The application port map: which host port a session's status lines go to.  It is
// cleared only by APPCOM_Ses2PortReset, so a mapping outlives its session.
#include <array>
#include <atomic>

#include "session/session.h"

namespace {
std::array<std::atomic<uint16_t>, SESSION_MAX> sessionPort{};  // read by each session's thread
}  // namespace

extern "C" {

short APPCOM_SetSes2Port(VK_ID word, uint16_t port)
{
    int16_t id = Session_IdFromWord(word);
    if (!Session_IdInRange(id)) return VK_FAIL;
    sessionPort[id].store(port, std::memory_order_relaxed);
    return Session_Record(id) != nullptr ? VK_DONE : VK_FAIL;
}

uint16_t APPCOM_Ses2Port(VK_ID word)
{
    int16_t id = Session_IdFromWord(word);
    return Session_IdInRange(id) ? sessionPort[id].load(std::memory_order_relaxed) : 0;
}

short APPCOM_Ses2PortReset(void)
{
    for (auto &port : sessionPort) port.store(0, std::memory_order_relaxed);
    return 1;
}

short APPCOM_Port2Ses(uint16_t port)
{
    for (int id = 0; id < SESSION_MAX; ++id) {
        if (sessionPort[id].load(std::memory_order_relaxed) == port) return static_cast<short>(id);
    }
    return 0;
}

}  // extern "C"
