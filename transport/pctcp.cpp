// Start-up and shut-down of the socket service, and the local IP configuration.
#include <cstdio>
#include <cstring>

#include "platform/net.h"
#include "session/trace_hook.h"
#include "transport/tcpapi.h"

namespace {

constexpr uint16_t WINSOCK_VERSION_2_0 = 0x0002;  // major 2 in the low byte, minor 0
constexpr int HOST_ADDRESSES_SEEN = 6;
constexpr size_t HOST_NAME_SIZE = 256;
constexpr uint16_t MODE_MATCH = 1;

void FormatAddress(const uint8_t addr[4], char text[16])
{
    snprintf(text, 16, "%3.3d.%3.3d.%3.3d.%3.3d", addr[0], addr[1], addr[2], addr[3]);
}

}  // namespace

extern "C" {

short PCTCP_Open(void)
{
    uint16_t granted = 0;
    int rc = Net_Startup(WINSOCK_VERSION_2_0, &granted);
    if (rc != 0) {
        char line[64];
        Session_OutputMsg(-1, "[ ] Can't find a usable WinSock DLL");
        snprintf(line, sizeof line, "[ ] Error code %d", rc);
        Session_OutputMsg(-1, line);
        return 0;
    }
    if (granted != WINSOCK_VERSION_2_0) {
        Session_OutputMsg(-1, "[ ] We couldn't find a usable WinSock DLL");
        Net_Cleanup();
        return 0;
    }
    TCPAPI_Init();
    return 1;
}

int32_t PCTCP_Close(void)
{
    TCPAPI_End();
    return Net_Cleanup();
}

short PCTCP_IpConfig(char *address, char *hostName, uint16_t mode)
{
    char name[HOST_NAME_SIZE] = {};
    int rc = Net_HostName(name, sizeof name - 1);
    if (rc != 0) name[0] = '\0';
    if (hostName != nullptr) memcpy(hostName, name, strlen(name) + 1);
    uint8_t addrs[HOST_ADDRESSES_SEEN][4];
    int count = (rc == 0 && name[0] != '\0') ? Net_HostAddresses(name, addrs, HOST_ADDRESSES_SEEN) : 0;
    for (int i = 0; i < count; ++i) {
        char text[16];
        FormatAddress(addrs[i], text);
        if (mode == MODE_MATCH) {
            if (address != nullptr && strcmp(address, text) == 0) return 1;
        } else if (address != nullptr) {
            memcpy(address, text, sizeof text);
        }
    }
    return mode == MODE_MATCH ? 0 : static_cast<short>(rc);
}

short PCTCP_GetIpConfig(char *address, char *hostName) { return PCTCP_IpConfig(address, hostName, 0); }

}  // extern "C"
