// Start-up of the socket service and the local IP configuration.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

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

TEST(Pctcp, IpConfigGivesTheZeroPaddedTextThatMode1Recognises)
{
    SocketService service;
    char address[16] = "untouched";
    char name[256] = "untouched";
    EXPECT_EQ(PCTCP_IpConfig(address, name, 0), 0);
    EXPECT_GT(strlen(name), 0u);
    EXPECT_NE(std::string(name), "untouched");
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
