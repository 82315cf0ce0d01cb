// The application port map: which host port a session's status lines go to.  It is
// cleared only by APPCOM_Ses2PortReset, so a mapping outlives its session.
#include <array>

#include "session/session.h"

namespace {
std::array<uint16_t, SESSION_MAX> sessionPort{};
}  // namespace

extern "C" {

short APPCOM_SetSes2Port(VK_ID word, uint16_t port)
{
    int16_t id = Session_IdFromWord(word);
    if (!Session_IdInRange(id)) return VK_FAIL;
    sessionPort[id] = port;
    return Session_Record(id) != nullptr ? VK_DONE : VK_FAIL;
}

uint16_t APPCOM_Ses2Port(VK_ID word)
{
    int16_t id = Session_IdFromWord(word);
    return Session_IdInRange(id) ? sessionPort[id] : 0;
}

short APPCOM_Ses2PortReset(void)
{
    sessionPort.fill(0);
    return 1;
}

short APPCOM_Port2Ses(uint16_t port)
{
    for (int id = 0; id < SESSION_MAX; ++id) {
        if (sessionPort[id] == port) return static_cast<short>(id);
    }
    return 0;
}

}  // extern "C"
