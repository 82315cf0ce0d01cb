// The link and the component over real pseudo-terminals: the termios path.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <poll.h>
#include <pty.h>
#include <string>
#include <thread>
#include <unistd.h>

#include "link/rs232.h"
#include "varnek.h"
#include "support/child_process.h"
#include "support/link_peer.h"
#include "support/pty.h"

#ifndef VARNEK_LINK_STATION
#error "VARNEK_LINK_STATION must name the link_station program"
#endif

namespace {

class LinkOverPty : public ::testing::Test {
protected:
    void SetUp() override
    {
        UseBuiltComponent();
        SetEnvironment("DRUMMEL_PORT" + std::to_string(port), pty.path);
        ASSERT_EQ(LINK_Open(port, 96, 8, 'N', 1, 0, 200, 0), 1);
    }
    void TearDown() override { LINK_Close(port); }
    short port = 11;
    Pty pty;
};

TEST_F(LinkOverPty, EveryByteValuePassesUntouchedBothWays)
{
    Bytes all(256);
    for (int i = 0; i < 256; ++i) all[i] = static_cast<uint8_t>(i);
    EXPECT_TRUE(pty.Write(all));
    Bytes got;
    uint8_t c;
    while (got.size() < 256 && RS232_ReceiveCharWait(port, &c) == 1) got.push_back(c);
    EXPECT_EQ(got, all) << "0x0D, 0x11, 0x13 and bit 7 arrive as sent";

    ASSERT_EQ(LINK_Send(port, all.data(), 256), 1);
    Bytes frame = LinkPeer::Frame(0xC0, all);
    EXPECT_EQ(pty.Read(frame.size()), frame);
}

TEST_F(LinkOverPty, AnExchangeWithTheFarEnd)
{
    ASSERT_EQ(LINK_Send(port, "ping", 4), 1);
    EXPECT_EQ(pty.Read(9), LinkPeer::Frame(0xC0, {'p', 'i', 'n', 'g'}));
    pty.Write(LinkPeer::Frame(0x48, {'p', 'o', 'n', 'g'}));
    uint8_t buffer[16];
    EXPECT_EQ(LINK_Receive(port, buffer, sizeof buffer), 5);
    EXPECT_EQ(std::string(reinterpret_cast<char *>(buffer), 4), "pong");
}

TEST(LinkTwoProcesses, ThousandFramesOfRandomSizesArriveIntact)
{
    UseBuiltComponent();
    Cable cable;
    SetEnvironment("DRUMMEL_PORT3", cable.a.path);
    SetEnvironment("DRUMMEL_PORT4", cable.b.path);
    ChildProcess answerer, sender;
    std::string dir = ::testing::TempDir();
    ASSERT_TRUE(answerer.Start({VARNEK_LINK_STATION, "4", "answer", "1000", "77"}, dir + "link-answerer.txt"));
    ASSERT_TRUE(sender.Start({VARNEK_LINK_STATION, "3", "send", "1000", "77"}, dir + "link-sender.txt"));
    EXPECT_EQ(sender.Wait(120), 0);
    EXPECT_EQ(answerer.Wait(30), 0);
    printf("link over a pseudo-terminal pair: %s", sender.Output().c_str());
    EXPECT_NE(sender.Output().find("1000 frames"), std::string::npos);
}

}  // namespace
