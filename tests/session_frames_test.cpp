// Session frames on the wire, against a loopback peer that records and injects bytes.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "platform/net.h"
#include "session/frame_header.h"
#include "support/abort_script.h"
#include "support/fake_platform.h"
#include "support/recorders.h"
#include "support/session_wiring.h"
#include "support/tcp_peer.h"
#include "zip/zip.h"

namespace {

Bytes Concat(std::initializer_list<Bytes> parts)
{
    Bytes out;
    for (const Bytes &p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

Bytes Text(const std::string &s) { return Bytes(s.begin(), s.end()); }

class SessionFrames : public ::testing::Test {
protected:
    void SetUp() override
    {
        Session_Reset();
        APPCOM_Ses2PortReset();
        display.Install();
        socket = peer.ConnectLibrary();
        ASSERT_GE(socket, 0);
    }
    void TearDown() override { ReleaseAllSessions(); }
    SessionRecord *Rec() { return Session_Record(id); }

    SocketService service;
    FakeClock clock;
    DisplayRecorder display;
    TcpPeer peer;
    int32_t socket = -1;
    short id = -1;
};

TEST_F(SessionFrames, OpenFrameIsFortyTwoBytes)
{
    id = WireSession(socket, TURN_SEND);
    SessionRecord *rec = Rec();
    rec->txOpen = rec->txEnd = 1;
    rec->service = 0x1234;
    rec->serviceOption = 9;
    memcpy(rec->localName, "STATION-A\0\0\0\0\0\0\0", 16);
    memcpy(rec->remoteName, "CENTRE\0\0\0\0\0\0\0\0\0\0", 16);
    ASSERT_EQ(Session_SendFrame(id, 0, 1, 0), VK_DONE);
    Bytes expected = Concat({{0xC0, 0x04, 0x02, 0x12, 0x34},
                             Text(std::string("STATION-A\0\0\0\0\0\0\0", 16)),
                             Text(std::string("CENTRE\0\0\0\0\0\0\0\0\0\0", 16)),
                             {0x09, 0x01, 0x00, 0x00, 0x00}});
    EXPECT_EQ(peer.Receive(43, 300), expected);
    EXPECT_EQ(rec->turn, TURN_RECEIVE) << "an end of message passes the turn";
    EXPECT_EQ(rec->txOpen, 0) << "a final frame clears the send flags";
}

TEST_F(SessionFrames, AbortTextIsCutAt64BytesWithoutItsNul)
{
    id = WireSession(socket, TURN_SEND);
    std::string hundred(100, 'r');
    EXPECT_EQ(Session_Abort(id, hundred.c_str()), VK_DONE);
    EXPECT_EQ(peer.Receive(69, 300), Concat({{0x50, 0x00, 0x40, 0x02}, Text(std::string(64, 'r'))}));
    EXPECT_EQ(Session_Record(id), nullptr);
    EXPECT_EQ(display.Lines(), (std::vector<DisplayLine>{{1, std::string(80, 'r'), 1}}));
    EXPECT_GT(clock.Now() - 1000000, 10) << "waited for the disconnect, then paused";
}

TEST_F(SessionFrames, ShortAbortTextTravelsWithItsNul)
{
    id = WireSession(socket, TURN_RECEIVE);
    EXPECT_EQ(Session_Abort(id, "stop!"), VK_DONE);
    EXPECT_EQ(peer.Receive(11, 300), Concat({{0x50, 0x00, 0x06, 0x02}, Text(std::string("stop!\0", 6))}));
}

TEST_F(SessionFrames, ReceivedAbortFrameShowsAtMost64TextBytes)
{
    id = WireSession(socket, TURN_RECEIVE);
    peer.Send(Concat({{0x50, 0x00, 0xC8, 0x01}, Text(std::string(200, 'q'))}));
    SessionFrame frame;
    EXPECT_EQ(Session_ReceiveFrame(id, &frame), VK_FAIL);
    EXPECT_EQ(Session_Record(id), nullptr);
    EXPECT_EQ(display.Lines(), (std::vector<DisplayLine>{{1, std::string(64, 'q'), 1}}));
}

TEST_F(SessionFrames, AFrameWaitingWhenASendStartsIsReadFirst)
{
    id = WireSession(socket, TURN_SEND);
    peer.Send(Concat({{0x50, 0x00, 0x03, 0x02}, Text(std::string("hi\0", 3))}));
    Net_Wait(socket, NetWait::Read, 3000);
    Rec()->txBuffer[0] = 'x';
    EXPECT_EQ(Session_SendFrame(id, 1, 0, 0), VK_FAIL);
    EXPECT_EQ(Session_Record(id), nullptr);
    EXPECT_EQ(display.Lines(), (std::vector<DisplayLine>{{1, "hi", 1}}));
    EXPECT_TRUE(peer.Receive(1, 200).empty()) << "the frame was not sent";
}

TEST_F(SessionFrames, HeaderPartsComeInTheirOrder)
{
    id = WireSession(socket, TURN_SEND);
    SessionRecord *rec = Rec();
    rec->txHold = 1;
    rec->holdValue = 0x77;
    memcpy(rec->txBuffer, "AB", 2);
    ASSERT_EQ(Session_SendFrame(id, 2, 0, 1), VK_DONE);
    rec->txEnd = rec->txClose = 1;
    memcpy(rec->txBuffer, "C", 1);
    ASSERT_EQ(Session_SendFrame(id, 1, 1, 0), VK_DONE);
    EXPECT_EQ(peer.Receive(11, 300), (Bytes{0x28, 0x77, 'A', 'B', 0x70, 0x00, 0x01, 0x77, 0x00, 'C'}))
        << "hold in every frame while set; end length, hold, close code; packed adds no byte";
}

TEST_F(SessionFrames, FrameWithoutEndCarriesThePeersFrameSize)
{
    id = WireSession(socket, TURN_RECEIVE);
    Bytes payload(256);
    for (size_t i = 0; i < payload.size(); ++i) payload[i] = static_cast<uint8_t>(i);
    peer.Send(Concat({{0x08}, payload, {0x60, 0x00, 0x01, 0x42, 0xEE}}));
    SessionFrame frame{nullptr, 0, 9, 0};
    ASSERT_EQ(Session_ReceiveFrame(id, &frame), VK_DONE);
    EXPECT_EQ(frame.length, 256);
    EXPECT_EQ(frame.final, 0);
    EXPECT_EQ(frame.packed, 1);
    EXPECT_EQ(Bytes(Rec()->rxBuffer, Rec()->rxBuffer + 256), payload);
    ASSERT_EQ(Session_ReceiveFrame(id, &frame), VK_DONE);
    EXPECT_EQ(frame.length, 1);
    EXPECT_EQ(frame.final, 1);
    EXPECT_EQ(Rec()->peerHold, 0x42);
    EXPECT_EQ(Rec()->rxBuffer[0], 0xEE);
}

TEST_F(SessionFrames, PayloadLongerThanTheReceiveBufferIsATransportFailure)
{
    id = WireSession(socket, TURN_RECEIVE);
    peer.Send(Bytes{0x40, 0x01, 0x41});
    peer.Send(Bytes(321, 0xAA));
    SessionFrame frame;
    EXPECT_EQ(Session_ReceiveFrame(id, &frame), VK_FAIL);
    EXPECT_EQ(Session_Record(id), nullptr);
    EXPECT_EQ(display.Lines(), (std::vector<DisplayLine>{{1, "Hardware Level Failure or T.O.", 1}}));
}

TEST_F(SessionFrames, OlderProtocolVersionIsRefusedQuietly)
{
    id = WireSession(socket, TURN_RECEIVE);
    Bytes open(42, 0);
    open[0] = 0xC0;
    open[1] = 3;
    peer.Send(open);
    SessionFrame frame;
    EXPECT_EQ(Session_ReceiveFrame(id, &frame), VK_FAIL);
    EXPECT_NE(Session_Record(id), nullptr) << "not released";
    EXPECT_TRUE(display.Lines().empty());
}

TEST_F(SessionFrames, CallbackStopSendsTheAbortTextForThePeer)
{
    id = WireSession(socket, TURN_RECEIVE);
    {
        AbortScript script;
        script.StopOnceAt(1);
        SessionFrame frame;
        EXPECT_EQ(Session_ReceiveFrame(id, &frame), VK_FAIL);
    }
    std::string text("Session Aborted by other side");
    text.push_back('\0');
    EXPECT_EQ(peer.Receive(4 + text.size(), 300), Concat({{0x50, 0x00, 0x1E, 0x01}, Text(text)}));
    EXPECT_EQ(display.Lines(), (std::vector<DisplayLine>{{1, "Session Aborted", 1}}));
    EXPECT_EQ(Session_Record(id), nullptr);
}

TEST_F(SessionFrames, OrderlyCloseSendsTheLastFrameWithCloseCodeZero)
{
    id = WireSession(socket, TURN_SEND, 0);
    ASSERT_EQ(ZIP_ZipFrame(id, reinterpret_cast<const uint8_t *>("bye"), 3, Rec()->txBuffer), ZIP_OK);
    EXPECT_EQ(Session_Close(id), VK_DONE);
    EXPECT_EQ(peer.Receive(8, 300), (Bytes{0x50, 0x00, 0x03, 0x00, 'b', 'y', 'e'}));
    EXPECT_TRUE(display.Lines().empty());
    short next = -1;
    Session_Create(&next);
    EXPECT_EQ(next, id) << "an orderly close leaves no stamp";
}

}  // namespace

// The header module that the session layer, the station and the tests share.
TEST(FrameHeader, BuildsEveryPartInOrderAndReadsItBack)
{
    FrameHeader h{};
    h.flags = SF_OPEN | SF_END | SF_HOLD | SF_CLOSE | SF_PACKED;
    h.protocolVersion = 4;
    h.zipVersion = 2;
    h.service = 0x1389;
    memcpy(h.localName, "STATION-7", 9);
    memcpy(h.remoteName, "CENTRE", 6);
    h.serviceOption = 9;
    h.frameSize = 256;
    h.payloadLength = 0x0102;
    h.hold = 7;
    h.closeCode = 2;
    uint8_t out[FH_MAX];
    ASSERT_EQ(FrameHeader_Build(&h, out), 44u);
    Bytes expected = Concat({{0xF8, 4, 2, 0x13, 0x89}, Text("STATION-7"), Bytes(7, 0), Text("CENTRE"), Bytes(10, 0),
                             {9, 0x01, 0x00, 0x01, 0x02, 7, 2}});
    EXPECT_EQ(Bytes(out, out + 44), expected);

    FrameHeader back;
    EXPECT_EQ(FrameHeader_Decode(out, &back), 44u);
    EXPECT_EQ(back.service, 0x1389);
    EXPECT_STREQ(back.localName, "STATION-7");
    EXPECT_EQ(back.payloadLength, 0x0102);
    EXPECT_EQ(back.closeCode, 2);
    uint8_t again[FH_MAX];
    FrameHeader_Build(&back, again);
    EXPECT_EQ(Bytes(again, again + 44), expected);
    EXPECT_EQ(FrameHeader_Length(SF_END | SF_CLOSE), 4u);
    EXPECT_EQ(FrameHeader_Length(SF_PACKED), 1u);
}

TEST(FrameHeader, TellsAFramesLengthAsItsBytesCome)
{
    const uint8_t last[] = {SF_END | SF_HOLD, 0x00, 0x05, 3};
    EXPECT_EQ(FrameHeader_FrameLength(last, 0, 256), 1u);
    EXPECT_EQ(FrameHeader_FrameLength(last, 1, 256), 4u) << "the header first";
    EXPECT_EQ(FrameHeader_FrameLength(last, 4, 256), 9u) << "then the length field's payload";
    const uint8_t full[] = {SF_PACKED};
    EXPECT_EQ(FrameHeader_FrameLength(full, 1, 256), 257u) << "no SF_END: the announced frame size";
}

TEST(FrameHeader, NamesTheFlagsSet)
{
    char text[32];
    EXPECT_EQ(FrameHeader_FlagText(SF_OPEN | SF_END, text, sizeof text), 8u);
    EXPECT_STREQ(text, "OPEN|END");
    FrameHeader_FlagText(SF_CLOSE | SF_PACKED | SF_END, text, sizeof text);
    EXPECT_STREQ(text, "END|CLOSE|PACKED");
    FrameHeader_FlagText(0, text, sizeof text);
    EXPECT_STREQ(text, "-");
    FrameHeader_FlagText(SF_OPEN | SF_END, text, 4);
    EXPECT_STREQ(text, "OPE") << "cut to the room given";
}
