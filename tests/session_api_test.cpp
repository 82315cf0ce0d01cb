// Opening sessions and carrying messages through the public interface.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>

#include "platform/net.h"
#include "session/session.h"
#include "support/abort_script.h"
#include "support/fake_platform.h"
#include "support/recorders.h"
#include "support/session_fixture.h"
#include "support/session_pair.h"
#include "support/session_wiring.h"
#include "support/tcp_peer.h"
#include "transport/linkapi.h"
#include "zip/zip.h"

namespace {


Bytes Concat(std::initializer_list<Bytes> parts)
{
    Bytes out;
    for (const Bytes &p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

// A caller's open frame: protocol version 4, compression version 2, frame size 256.
Bytes CallersOpenFrame()
{
    Bytes open(42, 0);
    open[0] = 0xC0;
    open[1] = 4;
    open[2] = 2;
    open[38] = 1;
    return open;
}

// An abort callback that lets a caller connect and send its open frame at the second
// pass of a wait, after the first has looked for one in vain.
TcpPeer *lateCaller = nullptr;
uint16_t latePort = 0;
int latePasses = 0;

int VKAPI CallAtTheSecondPass()
{
    if (++latePasses == 2 && lateCaller->Connection() < 0) {
        lateCaller->ConnectSoon(latePort);
        if (lateCaller->Join()) lateCaller->Send(CallersOpenFrame());
    }
    return 0;
}

class Sessions : public SessionFixture {
protected:
    void Send(short id, const std::string &text)
    {
        ASSERT_EQ(Session_TxStruct(id, text.data(), static_cast<uint16_t>(text.size())), VK_DONE);
        ASSERT_EQ(Session_EOM(id), VK_DONE);
    }
};

TEST_F(Sessions, OpenReportsThePeerAndLeavesTheAddressFieldsAlone)
{
    SessionPair pair;
    memset(&pair.callerPeer, 0x5A, sizeof pair.callerPeer);
    ASSERT_TRUE(OpenPair(pair));
    EXPECT_EQ(pair.callerOpen, VK_OPENED);
    EXPECT_EQ(pair.listenerOpen, VK_DONE);
    EXPECT_STREQ(pair.callerPeer.localName, "LISTENER");
    EXPECT_EQ(pair.callerPeer.localAddress[0], 0x5A) << "bytes 16-31 untouched";
    EXPECT_EQ(pair.callerPeer.remoteAddress[15], 0x5A) << "bytes 48-63 untouched";
    EXPECT_STREQ(pair.listenerPeer.localName, "CALLER");
    EXPECT_STREQ(pair.listenerPeer.remoteName, "LISTENER");
    EXPECT_EQ(pair.listenerPeer.serviceOption, 9);
    EXPECT_EQ(+pair.listenerPeer.service, +pair.port);
    uint8_t version = 0;
    EXPECT_EQ(ZIP_GetVersion(pair.caller, &version), 0);
    EXPECT_EQ(version, 2);
}

TEST_F(Sessions, APassiveSideWithServiceZeroAdoptsTheCallers)
{
    SessionPair first;
    PairOptions keep;
    keep.keepListening = true;
    ASSERT_TRUE(OpenPair(first, keep));
    SessionPair second;
    PairOptions adopt;
    adopt.port = first.port;
    adopt.listenerServiceZero = true;
    adopt.callerOption = 42;
    ASSERT_TRUE(OpenPair(second, adopt));
    EXPECT_EQ(+second.listenerParams.service, +first.port) << "reported back in its own params";
    EXPECT_EQ(second.listenerParams.serviceOption, 42);
    EXPECT_EQ(+second.callerPeer.service, +first.port) << "and sent in its answer";
    EXPECT_EQ(second.callerPeer.serviceOption, 42);
}

TEST_F(Sessions, TheLowerCompressionVersionWins)
{
    TcpPeer caller;
    uint16_t port = FreeLoopbackPort();
    short id = -1;
    Session_Create(&id);
    SessionOpenParams params{};
    memcpy(params.localAddress, "127.000.000.001", 16);
    params.service = port;
    Bytes open(42, 0);
    open[0] = 0xC0;
    open[1] = 4;  // protocol version; compression version 0 follows
    open[38] = 1;  // frame size 256
    caller.ConnectSoon(port);
    std::thread send([&] {
        caller.Join();
        caller.Send(open);
    });
    SessionPeerInfo peer{};
    EXPECT_EQ(Session_WaitForOpen(id, &params, &peer), VK_DONE);
    send.join();
    Bytes answer = caller.Receive(42);
    ASSERT_EQ(answer.size(), 42u);
    EXPECT_EQ(answer[2], 0) << "the listener answers with the lowered version";
    uint8_t version = 9;
    ZIP_GetVersion(id, &version);
    EXPECT_EQ(version, 0);
}

TEST_F(Sessions, APassiveOpenWhoseAcceptFindsNoCallerWaitsOn)
{
    uint16_t port = FreeLoopbackPort();
    AddressText loopback, parsedInPlace;
    TcpPeer first;
    first.ConnectSoon(port);
    int32_t accepted = TCPAPI_WaitForOpen(parsedInPlace.text, port, 1);  // makes the listening socket
    ASSERT_GE(accepted, 0);
    ASSERT_TRUE(first.Join());
    TCPAPI_Close(accepted);
    int32_t listening = ListeningSocketOn(port);
    ASSERT_NE(listening, NET_NO_SOCKET);
    MakeNonBlocking(listening);  // its accepts now say "would block" while nobody calls

    TcpPeer caller;
    lateCaller = &caller;
    latePort = port;
    latePasses = 0;
    ABORT_SetFunc(CallAtTheSecondPass);
    short id = -1;
    Session_Create(&id);
    SessionOpenParams params{};
    memcpy(params.localAddress, loopback.text, 16);
    params.service = port;
    SessionPeerInfo peer{};
    short rc = Session_WaitForOpen(id, &params, &peer);
    ABORT_SetFunc(nullptr);

    EXPECT_EQ(rc, VK_DONE);
    EXPECT_GE(latePasses, 2) << "the first accept found nobody";
    EXPECT_EQ(caller.Receive(42).size(), 42u) << "the caller is answered";
}

TEST_F(Sessions, AddressTextsSelectTheTransport)
{
    EXPECT_EQ(Session_ParseAddress("192.168.001.001"), 0);
    EXPECT_EQ(Session_ParseAddress("7"), 7);
    EXPECT_EQ(Session_ParseAddress(""), 0);
    EXPECT_EQ(Session_ParseAddress("modem"), 0);
    EXPECT_EQ(Session_ParseAddress("70000"), 0xFFFF) << "no port has that number";
    EXPECT_EQ(Session_ParseAddress("-3"), 0xFFFF);
}

TEST_F(Sessions, TheChosenTransportHoldsASocketOnlyOverTcp)
{
    short id = -1;
    ASSERT_EQ(Session_Create(&id), VK_DONE);
    SessionRecord *rec = Session_Record(id);
    rec->viaCentre = 0;
    Session_TransportChoose(rec, "7");
    EXPECT_EQ(rec->transport, SessionTransport::Serial);
    EXPECT_EQ(rec->linkPort, 7);
    EXPECT_EQ(LINKAPI_Port(7)->p2p, 1) << "the port is told it logs in to no centre";
    rec->handle = 5;  // a stale number: a serial session never hands it out
    EXPECT_EQ(Session_TransportSocket(id), -1);
    Session_TransportChoose(rec, "010.000.000.001");
    EXPECT_EQ(rec->transport, SessionTransport::Tcp);
    EXPECT_EQ(rec->linkPort, 0);
    EXPECT_EQ(Session_TransportSocket(id), 5);
    rec->handle = -1;
}

TEST_F(Sessions, OpeningAnOpenSessionReleasesIt)
{
    SessionPair pair;
    ASSERT_TRUE(OpenPair(pair));
    SessionOpenParams params{};
    EXPECT_EQ(Session_Open(pair.caller, &params, nullptr), VK_FAIL);
    EXPECT_EQ(Session_Record(pair.caller), nullptr);
    EXPECT_EQ(display.Lines().front(), (DisplayLine{1, "Session already opened!", 1}));
    EXPECT_EQ(Session_Open(600, &params, nullptr), VK_FAIL);
    EXPECT_EQ(display.Lines().back(), (DisplayLine{1, "Wrong Session Index!", 1}));
}

TEST_F(Sessions, AFailedActiveOpenReleasesWithoutPause)
{
    short id = -1;
    Session_Create(&id);
    SessionOpenParams params{};
    memcpy(params.remoteAddress, "127.000.000.001", 16);
    params.service = FreeLoopbackPort();  // nobody listens
    int64_t before = clock.Now();
    EXPECT_EQ(Session_Open(id, &params, nullptr), VK_FAIL);
    EXPECT_EQ(Session_Record(id), nullptr);
    EXPECT_EQ(clock.Now(), before);
    EXPECT_TRUE(display.Lines().empty());
}

TEST_F(Sessions, WordsTravelMostSignificantByteFirst)
{
    TcpPeer peer;
    short id = WireSession(peer.ConnectLibrary(), TURN_SEND);
    EXPECT_EQ(Session_TxWord(id, 258), VK_DONE);
    EXPECT_EQ(Session_TxLong(id, 0x01020304), VK_DONE);
    EXPECT_EQ(Session_EOM(id), VK_DONE);
    EXPECT_EQ(peer.Receive(10, 300), (Bytes{0x40, 0x00, 0x06, 0x01, 0x02, 0x01, 0x02, 0x03, 0x04}));
    peer.Send(Bytes{0x40, 0x00, 0x02, 0x01, 0x02});
    uint16_t value = 0;
    EXPECT_EQ(Session_RxWord(id, &value), VK_TURN);
    EXPECT_EQ(value, 258);
}

TEST_F(Sessions, ReadsMustFitTheMessage)
{
    SessionPair pair;
    ASSERT_TRUE(OpenPair(pair));
    uint8_t buffer[16];
    Send(pair.caller, "0123456789");
    EXPECT_EQ(Session_RxStruct(pair.listener, buffer, 4), VK_DONE);
    EXPECT_EQ(Session_RxStruct(pair.listener, buffer, 6), VK_TURN) << "the message ended: the listener's turn";
    Send(pair.listener, "0123456789");
    EXPECT_EQ(Session_RxStruct(pair.caller, buffer, 4), VK_DONE);
    EXPECT_EQ(Session_RxStruct(pair.caller, buffer, 8), VK_FAIL);
    EXPECT_EQ(display.Lines().back(), (DisplayLine{1, "Out of Structure synchronization!", 1}));
    EXPECT_EQ(Session_Record(pair.caller), nullptr);
}

TEST_F(Sessions, LengthPrefixedMessages)
{
    SessionPair pair;
    ASSERT_TRUE(OpenPair(pair));
    char buffer[32] = {};
    uint16_t length = 99;
    EXPECT_EQ(Session_TxMsg(pair.caller, "", 0), VK_DONE);
    EXPECT_EQ(Session_RxMsg(pair.listener, buffer, &length), VK_DONE);
    EXPECT_EQ(length, 0);
    EXPECT_EQ(Session_TxMsg(pair.listener, "reply", 5), VK_DONE);
    EXPECT_EQ(Session_RxMsg(pair.caller, buffer, &length), VK_DONE);
    EXPECT_EQ(std::string(buffer, length), "reply");
    EXPECT_EQ(Session_TxWord(pair.caller, 3), VK_DONE);
    Send(pair.caller, "abcdef");
    EXPECT_EQ(Session_RxMsg(pair.listener, buffer, &length), VK_FAIL) << "bytes follow the body";
    EXPECT_EQ(display.Lines().back(), (DisplayLine{1, "Out of Structure synchronization!", 1}));
}

TEST_F(Sessions, TheTurnAlternates)
{
    SessionPair pair;
    ASSERT_TRUE(OpenPair(pair));
    uint8_t b;
    EXPECT_EQ(Session_TxStruct(pair.listener, "x", 1), VK_FAIL) << "the caller sends first";
    EXPECT_EQ(display.Lines().back(), (DisplayLine{1, "Out of Rx-Tx synchronization!", 1}));
    EXPECT_EQ(Session_RxStruct(pair.caller, &b, 1), VK_FAIL);
    EXPECT_EQ(display.Lines().back(), (DisplayLine{1, "Out of Rx-Tx synchronization!", 1}));
}

TEST_F(Sessions, CloseEndsTheReadersLastReadWithThree)
{
    SessionPair pair;
    ASSERT_TRUE(OpenPair(pair));
    ASSERT_EQ(Session_TxStruct(pair.caller, "bye", 3), VK_DONE);
    EXPECT_EQ(Session_Close(pair.caller), VK_DONE);
    uint8_t buffer[3];
    EXPECT_EQ(Session_RxStruct(pair.listener, buffer, 3), VK_CLOSED);
    EXPECT_EQ(Session_Record(pair.listener), nullptr) << "the reader's id is free";
    EXPECT_TRUE(display.Lines().empty());
}

TEST_F(Sessions, AbortShowsTheReasonAtThePeer)
{
    SessionPair pair;
    ASSERT_TRUE(OpenPair(pair));
    EXPECT_EQ(Session_Abort(pair.caller, "operator stop"), VK_DONE);
    uint8_t b;
    EXPECT_EQ(Session_RxStruct(pair.listener, &b, 1), VK_FAIL);
    EXPECT_EQ(display.Lines(), (std::vector<DisplayLine>{{1, "operator stop", 1}, {1, "operator stop", 1}}));
    EXPECT_EQ(Session_Record(pair.listener), nullptr);
}

TEST_F(Sessions, HeldPartAndContinuationReadAsOneMessage)
{
    SessionPair pair;
    ASSERT_TRUE(OpenPair(pair));
    Bytes part(700);
    for (size_t i = 0; i < part.size(); ++i) part[i] = static_cast<uint8_t>(i * 7 + i / 256);
    ASSERT_EQ(Session_TxStruct(pair.caller, part.data(), 700), VK_DONE);
    ASSERT_EQ(Session_Hold(pair.caller, 7), VK_DONE);
    ASSERT_EQ(Session_TxStruct(pair.caller, part.data(), 700), VK_DONE);
    ASSERT_EQ(Session_EOM(pair.caller), VK_DONE);
    Bytes got(1400);
    EXPECT_EQ(Session_RxStruct(pair.listener, got.data(), 1400), VK_TURN);
    EXPECT_EQ(Bytes(got.begin(), got.begin() + 700), part);
    EXPECT_EQ(Bytes(got.begin() + 700, got.end()), part);
    EXPECT_EQ(Session_Record(pair.listener)->peerHold, 7);
}

// A non-blocking read times out in the middle of a frame, then completes.
TEST_F(Sessions, NonBlockingReadResumesInTheMiddleOfAFrame)
{
    TcpPeer peer;
    short id = WireSession(peer.ConnectLibrary(), TURN_RECEIVE, 0);
    Session_Record(id)->blocking = 0;
    SESSION_SetTimeout(1000);
    AbortScript script;
    script.Advance(clock, 2);
    Bytes message(300);
    for (size_t i = 0; i < message.size(); ++i) message[i] = static_cast<uint8_t>(i);
    Bytes wire = Concat({{0x00}, Bytes(message.begin(), message.begin() + 256), {0x40, 0x00, 44},
                         Bytes(message.begin() + 256, message.end())});
    Bytes got(300, 0xEE);
    EXPECT_EQ(Session_RxStruct(id, got.data(), 300), VK_NODATA) << "nothing yet";
    peer.Send(Bytes(wire.begin(), wire.begin() + 100));
    EXPECT_EQ(Session_RxStruct(id, got.data(), 300), VK_NODATA) << "a frame cut short";
    peer.Send(Bytes(wire.begin() + 100, wire.begin() + 258));
    EXPECT_EQ(Session_RxStruct(id, got.data(), 300), VK_NODATA) << "one frame, and a header byte";
    peer.Send(Bytes(wire.begin() + 258, wire.end()));
    EXPECT_EQ(Session_RxStruct(id, got.data(), 300), VK_TURN);
    EXPECT_EQ(got, message) << "no byte lost or repeated";
    EXPECT_NE(Session_Record(id), nullptr);
}

}  // namespace
