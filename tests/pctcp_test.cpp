// Start-up of the socket service and the local IP configuration.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#ifdef _WIN32
#include <winsock2.h>
#else
#include <netdb.h>
#include <sys/socket.h>
#endif

#include "support/recorders.h"
#include "support/tcp_peer.h"
#include "varnek.h"

namespace {

bool ZeroPadded(const char *text)
{
    if (strlen(text) != 15) return false;
    for (int i = 0; i < 15; ++i) {
        bool dot = i % 4 == 3;
        if (dot ? text[i] != '.' : (text[i] < '0' || text[i] > '9')) return false;
    }
    return true;
}

TEST(Pctcp, OpenStartsTheServiceQuietlyAndCloseStopsIt)
{
    Session_Reset();
    DisplayRecorder display;
    display.Install();
    EXPECT_EQ(PCTCP_Open(), 1);
    EXPECT_TRUE(display.Lines().empty());
    EXPECT_EQ(PCTCP_Close(), 0);
}

// What the host's resolver says, asked independently: the zero-padded text of the last
// of the host name's first six IPv4 addresses, or "" when the name has none.
std::string LastOfFirstSixAddresses(const char *hostName)
{
    const hostent *entry = gethostbyname(hostName);
    if (entry == nullptr || entry->h_addrtype != AF_INET) return "";
    std::string text;
    for (int i = 0; i < 6 && entry->h_addr_list[i] != nullptr; ++i) {
        const auto *a = reinterpret_cast<const unsigned char *>(entry->h_addr_list[i]);
        char padded[16];
        snprintf(padded, sizeof padded, "%03u.%03u.%03u.%03u", a[0], a[1], a[2], a[3]);
        text = padded;
    }
    return text;
}

TEST(Pctcp, IpConfigGivesTheZeroPaddedTextThatMode1Recognises)
{
    SocketService service;
    char address[16] = "untouched";
    char name[256] = "untouched";
    EXPECT_EQ(PCTCP_IpConfig(address, name, 0), 0);
    EXPECT_GT(strlen(name), 0u);
    EXPECT_NE(std::string(name), "untouched");
    const std::string expected = LastOfFirstSixAddresses(name);
    if (expected.empty()) {
        // A name without an address (a minimal system): mode 0 leaves the text as it was.
        EXPECT_STREQ(address, "untouched");
        EXPECT_EQ(PCTCP_IpConfig(address, nullptr, 1), 0);
        return;
    }
    ASSERT_STREQ(address, expected.c_str());
    ASSERT_TRUE(ZeroPadded(address)) << address;

    EXPECT_EQ(PCTCP_IpConfig(address, nullptr, 1), 1);
    char copy[16];
    memcpy(copy, address, sizeof copy);
    EXPECT_EQ(PCTCP_IpConfig(copy, nullptr, 1), 1) << "the text is compared, not the buffer";
    EXPECT_EQ(PCTCP_IpConfig(nullptr, nullptr, 1), 0);

    char plain[16] = {};
    int a, b, c, d;
    ASSERT_EQ(sscanf(address, "%d.%d.%d.%d", &a, &b, &c, &d), 4);
    snprintf(plain, sizeof plain, "%d.%d.%d.%d", a, b, c, d);
    if (strcmp(plain, address) != 0) {
        EXPECT_EQ(PCTCP_IpConfig(plain, nullptr, 1), 0) << plain;
    }

    char again[16] = {};
    char name2[256] = {};
    EXPECT_EQ(PCTCP_GetIpConfig(again, name2), 0);
    EXPECT_STREQ(again, address);
    EXPECT_STREQ(name2, name);
}

}  // namespace
