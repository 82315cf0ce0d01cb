// The stop-and-wait engine against a scripted station on a TCP line.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>
#include <cstring>
#include <string>

#include "link/link.h"
#include "link/rs232.h"
#include "platform/platform.h"
#include "support/link_peer.h"

namespace {

int Count(const std::vector<std::string> &lines, const std::string &text)
{
    return static_cast<int>(std::count(lines.begin(), lines.end(), text));
}

class LinkEngine : public ::testing::Test {
protected:
    void SetUp() override
    {
        UseBuiltComponent();
        ASSERT_TRUE(peer.Open(port));
        TakeTraces();
    }
    void TearDown() override { LINK_Close(port); }
    short port = 7;
    SocketService service;
    LinkPeer peer;
};

TEST_F(LinkEngine, FirstDataFrameAfterOpenHasHeaderC0)
{
    EXPECT_EQ(LINK_Send(port, "A", 1), 1);
    EXPECT_EQ(peer.Frames(), (std::vector<Bytes>{{0x12, 0xC0, 0x41, 0x90, 0x30, 0x0D}}));
    EXPECT_EQ(TakeTraces(), (std::vector<std::string>{"LINK Send   : STX , <1:1:0:0> , <Data=1> , <CRC16> , CR"}));
}

TEST_F(LinkEngine, ASilentPeerGetsTheFrameAgainUpToTheLimit)
{
    LINK_SetMaxRetry(port, 2);
    uint8_t buffer[64];
    EXPECT_EQ(LINK_SndRcv(port, "hello", 5, buffer, sizeof buffer), 0);
    std::vector<Bytes> frames = peer.Frames();
    ASSERT_EQ(frames.size(), 3u) << "sent three times in all";
    EXPECT_EQ(frames[1], frames[0]);
    EXPECT_EQ(frames[2], frames[0]);
    EXPECT_EQ(Count(TakeTraces(), "Retry to send"), 3);
}

// Noise that never stops, and never holds a frame, ends a receive all the same.
TEST_F(LinkEngine, EndlessNoiseEndsTheReceive)
{
    LINK_SetMaxRetry(port, 0);
    std::atomic<bool> receiving{true};
    std::atomic<bool> noiseStillFlowing{false};
    std::thread noise([&] {
        Bytes chunk(512, 'A');
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (receiving && std::chrono::steady_clock::now() < deadline) peer.Send(chunk);
        noiseStillFlowing = receiving.load();
    });
    uint8_t buffer[64];
    EXPECT_EQ(LINK_Receive(port, buffer, sizeof buffer), 0);
    receiving = false;
    noise.join();
    EXPECT_FALSE(noiseStillFlowing) << "the receive ended while the noise went on";
}

TEST_F(LinkEngine, ABadFrameFollowedByAGoodOneIsAcceptedWithoutRetry)
{
    ASSERT_EQ(LINK_Send(port, "x", 1), 1);
    Bytes bad = LinkPeer::Frame(0x88);
    bad[2] ^= 0x01;
    Bytes good = LinkPeer::Frame(0x89);  // an ACK asking for SEQ 1
    peer.Send(bad);
    peer.Send(good);
    uint8_t buffer[16];
    EXPECT_EQ(LINK_Receive(port, buffer, sizeof buffer), 1);
    std::vector<std::string> traces = TakeTraces();
    EXPECT_EQ(Count(traces, "Receive CRC error "), 1);
    EXPECT_EQ(Count(traces, "Retry to send"), 0);
    EXPECT_EQ(peer.Frames().size(), 1u) << "no retransmission";
}

TEST_F(LinkEngine, DataAnswersCarryTheirLengthAndTheSequenceWraps)
{
    uint8_t buffer[64];
    for (int i = 0; i < 9; ++i) {
        uint8_t expect = static_cast<uint8_t>(i % 8);
        ASSERT_EQ(LINK_Send(port, "q", 1), 1);
        // The peer answers with data: it asks for our next SEQ and sends its own.
        uint8_t header = static_cast<uint8_t>(0x40 | ((expect + 1) % 8) << 3 | expect);
        peer.Send(LinkPeer::Frame(header, {'a', 'b', 'c'}));
        ASSERT_EQ(LINK_Receive(port, buffer, sizeof buffer), 4) << i;
        std::vector<Bytes> frames = peer.Frames(100);
        ASSERT_EQ(frames.size(), 1u);
        EXPECT_EQ(frames[0][1], static_cast<uint8_t>(0xC0 | expect << 3 | expect)) << "SEQ and request wrap at 8";
    }
}

TEST_F(LinkEngine, NoiseAndWrongSequencesAreRefused)
{
    ASSERT_EQ(LINK_Send(port, "x", 1), 1);
    peer.Frames(100);
    peer.Send(Bytes{0x41, 0x42, 0x12, 0x55, 0x0D});  // bytes before a start are dropped, then noise
    peer.Send(LinkPeer::Frame(0x81));               // an ACK asking for SEQ 0 again: wrong
    LINK_SetMaxRetry(port, 0);
    uint8_t buffer[16];
    EXPECT_EQ(LINK_Receive(port, buffer, sizeof buffer), 0);
    std::vector<std::string> traces = TakeTraces();
    EXPECT_EQ(Count(traces, "Noise (3)"), 1);
    EXPECT_EQ(Count(traces, "Next send SEQ=1 , but requested SEQ=0"), 1);
    EXPECT_EQ(Count(traces, "Retry to send"), 1) << "traced once even with a limit of 0";
}

TEST_F(LinkEngine, AFrameTooBigForTheCallerIsRefusedAndAskedAgain)
{
    ASSERT_EQ(LINK_Send(port, "x", 1), 1);
    peer.Frames(100);
    peer.Send(LinkPeer::Frame(0x48, Bytes(10, 'z')));
    LINK_SetMaxRetry(port, 1);
    uint8_t buffer[5 + 1] = {};
    buffer[5] = 0xEE;
    EXPECT_EQ(LINK_Receive(port, buffer, 5), 0);
    EXPECT_EQ(buffer[5], 0xEE) << "nothing past the room";
    std::vector<std::string> traces = TakeTraces();
    EXPECT_EQ(Count(traces, "Receive buffer size error ( > 5)"), 1);
    EXPECT_EQ(peer.Frames().size(), 1u) << "the request went out again";
}

TEST_F(LinkEngine, BlocksThatCannotBeHeldAreRefused)
{
    Bytes stuffed(2076, 0x0D);
    EXPECT_EQ(LINK_Send(port, stuffed.data(), 2076), 1) << "2076 bytes always fit";
    stuffed.resize(2079, 0x0D);  // 2 + 1 + 4158 + 2: 4163 bytes
    EXPECT_EQ(LINK_Send(port, stuffed.data(), 2079), 0) << "4160 bytes are not enough for its stuffed form";
    Bytes plain(3000, 'a');
    EXPECT_EQ(LINK_Send(port, plain.data(), 3000), 1) << "a longer block that needs no stuffing fits";
}

TEST_F(LinkEngine, ConnectWaitsForAFrameStart)
{
    peer.Send(Bytes{0x41, 0x42, 0x12});
    for (int i = 0; i < 300 && RS232_GetRecCount(port) < 3; ++i) Platform_RealSleepMs(1);  // bytes in flight
    EXPECT_EQ(LINK_Connect(port), 0);
    EXPECT_EQ(LINK_Connect(port), 0);
    EXPECT_EQ(LINK_Connect(port), 1);
}

TEST_F(LinkEngine, StatisticsOfPortOneAndThroughput)
{
    LinkPeer one;
    ASSERT_TRUE(one.Open(1));
    LinkStats &s = LINK_Stats();
    s.frames = 12;
    s.events = 3;
    s.retries[0] = 3;
    s.retries[1] = 1;
    s.retries[2] = 4;
    TakeTraces();
    LINK_Close(1);
    EXPECT_EQ(TakeTraces(), (std::vector<std::string>{"Transmitted frames = 12", "Number of events = 3",
                                                      "Retransmitted frames = 8", "Maximum number of retries = 4"}));
    char text[12];
    LINK_PutDiag(port, -1);
    EXPECT_EQ(LINK_GetDiag(port, text), 1);
    EXPECT_STREQ(text, "0") << "within the second of the reset";
}

TEST_F(LinkEngine, DiagLinesAreCutAt502Characters)
{
    std::string long600(600, 'd');
    LINK_Diag("%s", long600.c_str());
    std::vector<std::string> traces = TakeTraces();
    ASSERT_EQ(traces.size(), 1u);
    EXPECT_EQ(traces[0], std::string(502, 'd'));
}

}  // namespace
