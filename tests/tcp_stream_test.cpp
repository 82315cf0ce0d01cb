// A session's receive buffer in front of its socket: exact reads from one receive,
// held bytes counted as waiting, and the plain receive's results and waits.
#include <gtest/gtest.h>

#include <string>

#include "session/session.h"
#include "support/abort_script.h"
#include "support/fake_platform.h"
#include "support/recorders.h"
#include "support/session_wiring.h"
#include "support/tcp_peer.h"
#include "transport/tcp_stream.h"
#include "transport/tcpapi.h"

namespace {

class TcpStreamTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        TCPAPI_Init();
        TcpStream_Reset(stream);
        s = peer.ConnectLibrary();
        ASSERT_GE(s, 0);
    }
    void TearDown() override
    {
        if (s >= 0) TCPAPI_Close(s);
    }
    std::string Read(uint16_t n, short expected = 0)
    {
        char buffer[512] = {};
        uint16_t count = n;
        EXPECT_EQ(TcpStream_WaitForData(stream, s, buffer, &count), expected);
        return std::string(buffer, count);
    }

    SocketService service;
    TcpPeer peer;
    TcpStream stream{};
    int32_t s = -1;
};

TEST_F(TcpStreamTest, ExactReadsComeFromOneReceiveAndHeldBytesCountAsWaiting)
{
    std::string frames = "F" + std::string(2, 'h') + std::string(297, 'p');
    peer.Send(frames);
    EXPECT_EQ(Read(1), "F");
    EXPECT_EQ(TCPAPI_IsReceive(s), 0) << "one receive took all the socket held";
    EXPECT_EQ(TcpStream_IsReceive(stream, s), 1) << "but the stream holds the rest";
    EXPECT_EQ(Read(2), "hh");
    EXPECT_EQ(Read(297), std::string(297, 'p'));
    EXPECT_EQ(TcpStream_IsReceive(stream, s), 0);

    peer.Send("late");
    EXPECT_EQ(Read(4), "late") << "an empty stream goes to the socket again";
}

TEST_F(TcpStreamTest, AfterThePeerClosedTheHeldBytesComeFirstThenAShortCount)
{
    peer.Send("abcdef");
    peer.Close();
    EXPECT_EQ(Read(2), "ab");
    EXPECT_EQ(Read(10), "cdef");
    EXPECT_EQ(TCPAPI_IsConnected(s), 0) << "the socket is closed";
    s = -1;
}

TEST_F(TcpStreamTest, TheCallbackIsAskedEvenWhenTheStreamAnswersAndNothingIsLost)
{
    peer.Send("abcd");
    EXPECT_EQ(Read(2), "ab");
    {
        AbortScript script;
        script.StopAt(1);
        EXPECT_EQ(Read(2, TCPAPI_ABORTED), "");
    }
    EXPECT_EQ(Read(2), "cd");
}

TEST_F(TcpStreamTest, ATimeOutKeepsWhatArrivedAndTheNextReadGoesOn)
{
    FakeClock clock;
    TCPAPI_SetTimeout(2000);
    peer.Send("ab");
    {
        AbortScript script;
        script.Advance(clock, 3);
        EXPECT_EQ(Read(5, TCPAPI_TIMEOUT), "ab");
    }
    EXPECT_EQ(TCPAPI_IsConnected(s), 1);
    peer.Send("cde");
    EXPECT_EQ(Read(3), "cde");
}

// The read-first rule sees a frame that an earlier read took from the socket.
TEST(TcpStreamSession, AnAbortFrameHeldBehindTheLastFrameIsReadBeforeTheNextSend)
{
    SocketService service;
    FakeClock clock;
    Session_Reset();
    DisplayRecorder display;
    display.Install();
    TcpPeer peer;
    int32_t socket = peer.ConnectLibrary();
    ASSERT_GE(socket, 0);
    short id = WireSession(socket, TURN_RECEIVE);
    peer.Send(Bytes{0x40, 0x00, 0x02, 'o', 'k', 0x50, 0x00, 0x03, 0x02, 'h', 'i', 0x00});
    SessionFrame frame;
    ASSERT_EQ(Session_ReceiveFrame(id, &frame), VK_DONE);
    ASSERT_EQ(frame.length, 2);
    ASSERT_EQ(TCPAPI_IsReceive(socket), 0) << "the abort frame sits in the stream, not the socket";

    Session_Record(id)->txBuffer[0] = 'x';
    EXPECT_EQ(Session_SendFrame(id, 1, 0, 0), VK_FAIL);
    EXPECT_EQ(Session_Record(id), nullptr);
    EXPECT_EQ(display.Lines(), (std::vector<DisplayLine>{{1, "hi", 1}}));
    EXPECT_TRUE(peer.Receive(1, 200).empty()) << "the frame was not sent";
    ReleaseAllSessions();
}

}  // namespace
