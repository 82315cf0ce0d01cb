// A centre in another process: `varnek listen --parallel` serving `varnek load`, with a
// stranger's failed open first that it reports and survives.
#include <gtest/gtest.h>

#include <string>

#include "support/child_process.h"
#include "support/tcp_peer.h"

#ifndef VARNEK_STATION
#error "VARNEK_STATION must name the varnek program"
#endif

namespace {

size_t Count(const std::string &text, const std::string &what)
{
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

TEST(Centre, AParallelListenerSurvivesAFailedOpenAndEchoesEveryStationIntact)
{
    SocketService sockets;
    uint16_t port = FreeLoopbackPort();
    std::string endpoint = "127.0.0.1:" + std::to_string(port);
    std::string dir = ::testing::TempDir() + "varnek-centre-" + std::to_string(port);
    ChildProcess listener;
    ASSERT_TRUE(listener.Start({VARNEK_STATION, "listen", endpoint, "--parallel", "4", "--count", "5", "--echo"},
                               dir + "-listen.txt"));
    TcpPeer stranger;  // half an open frame, then gone: the first of the five
    stranger.ConnectSoon(port);
    ASSERT_TRUE(stranger.Join());
    ASSERT_TRUE(stranger.Send(Bytes{0xC0, 0x04, 0x02}));
    stranger.Close();

    ChildProcess load;
    ASSERT_TRUE(load.Start({VARNEK_STATION, "load", endpoint, "--stations", "4", "--messages", "5", "--size", "3000"},
                           dir + "-load.txt"));
    EXPECT_EQ(load.Wait(60), 0) << load.Output();
    EXPECT_NE(load.Output().find("stations 4 (opened 4)"), std::string::npos) << load.Output();
    EXPECT_NE(load.Output().find("lost 0, corrupted 0"), std::string::npos) << load.Output();

    EXPECT_EQ(listener.Wait(60), 2) << "the exit code tells the failed open\n" << listener.Output();
    EXPECT_EQ(Count(listener.Output(), ": a caller's open failed"), 1u) << listener.Output();
    EXPECT_EQ(Count(listener.Output(), ": closed by the caller"), 4u) << listener.Output();
}

TEST(Centre, LoadWithoutAListenerLosesEveryMessageAndSaysSo)
{
    SocketService sockets;
    uint16_t port = FreeLoopbackPort();
    ChildProcess load;
    ASSERT_TRUE(load.Start({VARNEK_STATION, "load", "127.0.0.1:" + std::to_string(port), "--stations", "2",
                            "--messages", "3", "--size", "10"},
                           ::testing::TempDir() + "varnek-noload-" + std::to_string(port) + ".txt"));
    EXPECT_EQ(load.Wait(60), 2) << load.Output();
    EXPECT_NE(load.Output().find("lost 6, corrupted 0"), std::string::npos) << load.Output();
}

}  // namespace
