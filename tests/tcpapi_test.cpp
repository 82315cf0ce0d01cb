// The TCP transport against real loopback sockets.
#include <gtest/gtest.h>

#include <cstring>

#include "platform/net.h"
#include "support/abort_script.h"
#include "support/fake_platform.h"
#include "support/tcp_peer.h"
#include "transport/tcpapi.h"

namespace {

class TcpTransport : public ::testing::Test {
protected:
    void SetUp() override { TCPAPI_Init(); }
    void TearDown() override
    {
        for (int32_t s : opened) TCPAPI_Close(s);
        TCPAPI_End();
    }
    // A stream connection from the library to peer.
    int32_t Connect(TcpPeer &peer)
    {
        int32_t s = peer.ConnectLibrary();
        EXPECT_GE(s, 0);
        opened.push_back(s);
        return s;
    }
    int32_t Keep(int32_t s)
    {
        if (s >= 0) opened.push_back(s);
        return s;
    }
    SocketService service;
    std::vector<int32_t> opened;
};

int32_t Option(int32_t s, NetLevel level, NetOption name)
{
    int32_t value = -1;
    Net_GetOption(s, level, name, &value);
    return value != 0 ? 1 : 0;
}

TEST_F(TcpTransport, CountsOfZeroDoNotTouchTheSocket)
{
    uint16_t count = 0;
    uint8_t buffer[4];
    EXPECT_EQ(TCPAPI_Send(12345, "x", 0), 0);
    EXPECT_EQ(TCPAPI_Receive(12345, buffer, &count), 0);
    EXPECT_EQ(TCPAPI_WaitForData(12345, buffer, &count), 0);

    TcpPeer peer;
    int32_t s = Connect(peer);
    EXPECT_EQ(TCPAPI_Send(s, "ab", 0), 0);
    EXPECT_EQ(TCPAPI_WaitForData(s, buffer, &count), 0);
    EXPECT_EQ(TCPAPI_Send(s, "ab", 2), 0);
    EXPECT_EQ(peer.Receive(2), (Bytes{'a', 'b'}));
}

TEST_F(TcpTransport, ReceiveReturnsAtTheFirstBytesWaitForDataAtTheFullCount)
{
    TcpPeer peer;
    int32_t s = Connect(peer);
    uint8_t buffer[16] = {};

    peer.Send("abc");
    uint16_t count = 10;
    EXPECT_EQ(TCPAPI_Receive(s, buffer, &count), 0);
    EXPECT_EQ(count, 3);

    peer.Send("012");
    peer.Send("345");
    peer.Send("6789");
    count = 10;
    EXPECT_EQ(TCPAPI_WaitForData(s, buffer, &count), 0);
    EXPECT_EQ(count, 10);
    EXPECT_EQ(std::string(reinterpret_cast<char *>(buffer), 10), "0123456789");

    peer.Send("wxyz");
    peer.Close();
    count = 10;
    EXPECT_EQ(TCPAPI_WaitForData(s, buffer, &count), 0) << "the peer closed: a short count";
    EXPECT_EQ(count, 4);
    EXPECT_EQ(TCPAPI_IsConnected(s), 0) << "and the socket is closed";
    opened.clear();
}

TEST_F(TcpTransport, ReceiveTimeOutCountsWholeSecondsFromTheStartOfTheCall)
{
    FakeClock clock;
    TcpPeer peer;
    int32_t s = Connect(peer);
    TCPAPI_SetTimeout(2000);
    AbortScript script;
    script.Advance(clock, 3);
    peer.Send("ab");
    uint8_t buffer[8];
    uint16_t count = 5;
    EXPECT_EQ(TCPAPI_WaitForData(s, buffer, &count), -3);
    EXPECT_EQ(count, 2) << "what arrived before the time-out stays counted";
    EXPECT_EQ(TCPAPI_IsConnected(s), 1) << "a time-out leaves the socket open";
}

TEST_F(TcpTransport, ReceiveTimeOutOfZeroNeverExpires)
{
    FakeClock clock;
    TcpPeer peer;
    int32_t s = Connect(peer);
    TCPAPI_SetTimeout(0);
    {
        AbortScript script;
        script.Advance(clock, 1000).StopAt(2);
        uint8_t buffer[4];
        uint16_t count = 4;
        EXPECT_EQ(TCPAPI_Receive(s, buffer, &count), -2) << "stopped by the callback, not timed out";
    }
    EXPECT_EQ(TCPAPI_Send(s, "k", 1), 0) << "an abort leaves the socket open";
    EXPECT_EQ(peer.Receive(1), Bytes{'k'});
}

// A connect that stays in progress: the peer's backlog is full.
class PendingConnect : public TcpTransport {
protected:
    void SetUp() override
    {
        TcpTransport::SetUp();
        port = peer.Listen(0, 0);
        for (int i = 0; i < 3; ++i) peer.ConnectPending(port);
    }
    TcpPeer peer;
    uint16_t port = 0;
};

TEST_F(PendingConnect, EndsAtTheTimeOutOrTheCallback)
{
    FakeClock clock;
    AddressText addr;
    TCPAPI_SetTimeout(0);
    {
        AbortScript script;
        script.Advance(clock, 1);
        EXPECT_EQ(Keep(TCPAPI_Open(addr.text, port, 1)), -3) << "time-out 0: gives up once a second has passed";
        EXPECT_EQ(script.Calls(), 1);
    }
    TCPAPI_SetTimeout(-1000);
    {
        AbortScript script;
        script.Advance(clock, 100000).StopAt(5);
        EXPECT_EQ(Keep(TCPAPI_Open(addr.text, port, 1)), -2) << "-1000 ms never expires";
    }
}

TEST_F(TcpTransport, PassiveOpensShareOneListeningSocketUntilEnd)
{
    uint16_t first = FreeLoopbackPort();
    char any[16] = "000.000.000.000";
    TcpPeer a, b, c;
    a.ConnectSoon(first);
    EXPECT_GE(Keep(TCPAPI_WaitForOpen(any, first, 1)), 0);
    EXPECT_TRUE(a.Join());

    uint16_t second = FreeLoopbackPort();
    b.ConnectSoon(first);
    EXPECT_GE(Keep(TCPAPI_WaitForOpen(any, second, 1)), 0) << "the first call's socket, not a new one";
    EXPECT_TRUE(b.Join());

    TCPAPI_End();
    c.ConnectSoon(second);
    EXPECT_GE(Keep(TCPAPI_WaitForOpen(any, second, 1)), 0) << "after TCPAPI_End a new one";
    EXPECT_TRUE(c.Join());
}

TEST_F(TcpTransport, AbortStopsAPassiveStreamOpenAndDropsTheListeningSocket)
{
    uint16_t first = FreeLoopbackPort();
    uint16_t second = FreeLoopbackPort();
    AddressText addr;
    {
        AbortScript script;
        script.StopAt(1);
        EXPECT_EQ(TCPAPI_WaitForOpen(addr.text, first, 1), -2);
    }
    TcpPeer peer;
    peer.ConnectSoon(second);
    AddressText again;
    EXPECT_GE(Keep(TCPAPI_WaitForOpen(again.text, second, 1)), 0) << "a fresh listening socket on the new port";
    EXPECT_TRUE(peer.Join());
}

TEST_F(TcpTransport, QueuedOptionsApplyToExactlyTheNextSocket)
{
    for (int8_t bad : {int8_t(0), int8_t(11), int8_t(-1)}) EXPECT_EQ(TCPAPI_SetSockOpt(0, bad, 1), -1);
    TcpPeer p1, p2, p3;
    int32_t plain = Connect(p1);
    EXPECT_EQ(Option(plain, NetLevel::Socket, NetOption::KeepAlive), 0) << "a refused code queues nothing";

    EXPECT_EQ(TCPAPI_SetSockOpt(0, 10, 1), 0);
    EXPECT_EQ(TCPAPI_SetSockOpt(0, 5, 1), 0);
    int32_t next = Connect(p2);
    EXPECT_EQ(Option(next, NetLevel::Socket, NetOption::Broadcast), 1);
    EXPECT_EQ(Option(next, NetLevel::Socket, NetOption::KeepAlive), 1) << "broadcast brings keep-alive";
    EXPECT_EQ(Option(next, NetLevel::Tcp, NetOption::NoDelay), 1);

    int32_t after = Connect(p3);
    EXPECT_EQ(Option(after, NetLevel::Socket, NetOption::KeepAlive), 0);
    EXPECT_EQ(Option(after, NetLevel::Tcp, NetOption::NoDelay), 0);
}

TEST_F(TcpTransport, TimeOutsAndTheirDefaults)
{
    EXPECT_EQ(TCPAPI_GetTimeout(), 60000);
    SESSION_SetTimeout(1500);
    EXPECT_EQ(TCPAPI_GetTimeout(), 1500);
    EXPECT_EQ(TCPAPI_SetTxTimeout(777), 777);
    TCPAPI_Init();
    EXPECT_EQ(TCPAPI_GetTimeout(), 60000);
}

TEST_F(TcpTransport, ZeroWaitTests)
{
    TcpPeer peer;
    int32_t s = Connect(peer);
    EXPECT_EQ(TCPAPI_IsReceive(s), 0);
    EXPECT_EQ(TCPAPI_GetStatus(s), -4);
    peer.Send("z");
    uint8_t c;
    uint16_t one = 1;
    Net_Wait(s, NetWait::Read, 3000);
    EXPECT_EQ(TCPAPI_IsReceive(s), 1);
    EXPECT_EQ(TCPAPI_GetStatus(s), 0);
    EXPECT_EQ(TCPAPI_WaitForData(s, &c, &one), 0);
    peer.Close();
    Net_Wait(s, NetWait::Read, 3000);
    EXPECT_EQ(TCPAPI_IsReceive(s), 1) << "a peer's close reads as readable";
    EXPECT_EQ(TCPAPI_IsConnected(s), 1) << "but is not seen as a lost connection";
}

TEST(TcpAddressText, IsReadAtFixedPositions)
{
    struct Case {
        const char *text;
        uint8_t addr[4];
    } cases[] = {
        {"192.168.001.010", {192, 168, 1, 10}},
        {"192.168.1.1", {192, 168, 1, 0}},
        {"000.000.000.000", {0, 0, 0, 0}},
        {"300.256.-01.511", {44, 0, 255, 255}},
        {"", {0, 0, 0, 0}},
    };
    for (const Case &c : cases) {
        char text[16] = {};
        strncpy(text, c.text, sizeof text - 1);
        uint8_t addr[4];
        TCPAPI_ParseAddress(text, addr);
        EXPECT_EQ(Bytes(addr, addr + 4), Bytes(c.addr, c.addr + 4)) << c.text;
    }
    char text[16] = "192.168.001.010";
    uint8_t addr[4];
    TCPAPI_ParseAddress(text, addr);
    EXPECT_EQ(Bytes(text, text + 16), Bytes({'1', '9', '2', 0, '1', '6', '8', 0, '0', '0', '1', 0, '0', '1', '0', 0}))
        << "the separators are overwritten while the text is read";
    TCPAPI_ParseAddress(text, addr);
    EXPECT_EQ(Bytes(addr, addr + 4), (Bytes{192, 168, 1, 10})) << "and the text reads the same again";
    char shortText[10] = "127.0.0.1";
    TCPAPI_ParseAddress(shortText, addr);
    EXPECT_EQ(Bytes(addr, addr + 4), (Bytes{127, 0, 1, 0})) << "nothing is read past the terminator at 9";
    char full[16];
    memset(full, '7', sizeof full);
    TCPAPI_ParseAddress(full, addr);  // no terminator: nothing is read past the 16 bytes
    EXPECT_EQ(Bytes(addr, addr + 4), (Bytes{777 % 256, 777 % 256, 777 % 256, 7777 % 256}));
}

}  // namespace
