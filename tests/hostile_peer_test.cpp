// What a hostile peer or a careless host can do to a session: every such case gets a
// clear outcome, never a write out of bounds, a lost turn or a leaked resource.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>

#include "platform/net.h"
#include "session/frame_header.h"
#include "session/session.h"
#include "support/abort_script.h"
#include "support/fake_platform.h"
#include "support/recorders.h"
#include "support/session_fixture.h"
#include "support/session_pair.h"
#include "support/session_wiring.h"
#include "support/tcp_peer.h"
#include "zip/zip.h"

namespace {

Bytes operator+(Bytes a, const Bytes &b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

Bytes Text(const std::string &s) { return Bytes(s.begin(), s.end()); }

Bytes Unique(size_t n)
{
    Bytes out(n);
    for (size_t i = 0; i < n; ++i) out[i] = static_cast<uint8_t>(i % 2 == 0 ? i / 2 : 0x80 + i / 512);
    return out;
}

// An open frame as a caller sends it, announcing frameSize.
Bytes OpenFrame(uint16_t frameSize)
{
    FrameHeader h{};
    h.flags = SF_OPEN | SF_END;
    h.protocolVersion = 4;
    h.zipVersion = 2;
    memcpy(h.localName, "HOSTILE", 7);
    h.frameSize = frameSize;
    Bytes open(FH_MAX);
    open.resize(FrameHeader_Build(&h, open.data()));
    return open;
}

class HostilePeer : public SessionFixture {
protected:
    std::vector<std::string> Texts() const
    {
        std::vector<std::string> out;
        for (const DisplayLine &l : display.Lines()) out.push_back(l.text);
        return out;
    }
    // A passive open answered by a caller that sends `open`: the open's result.
    short WaitForCaller(TcpPeer &caller, const Bytes &open, short &id)
    {
        uint16_t port = FreeLoopbackPort();
        id = -1;
        Session_Create(&id);
        SessionOpenParams params{};
        memcpy(params.localAddress, "127.000.000.001", 16);
        params.service = port;
        caller.ConnectSoon(port);
        std::thread send([&] {
            if (caller.Join()) caller.Send(open);
        });
        SessionPeerInfo peer{};
        short rc = Session_WaitForOpen(id, &params, &peer);
        send.join();
        TCPAPI_End();
        return rc;
    }
};

TEST_F(HostilePeer, AnOpenBlockMustAnnounceAFrameSizeFromOneTo256)
{
    for (uint16_t size : {0, 257, 65535}) {
        TcpPeer caller;
        short id = -1;
        EXPECT_EQ(WaitForCaller(caller, OpenFrame(size), id), VK_FAIL) << size;
        ASSERT_NE(Session_Record(id), nullptr) << "the passive side stays created, as for an old protocol";
        EXPECT_STREQ(Session_Record(id)->peerLocalName, "") << "nothing of the refused block is taken";
        Session_Release(id, ReleasePause::No);
    }
    for (uint16_t size : {1, 3, 256}) {
        TcpPeer caller;
        short id = -1;
        EXPECT_EQ(WaitForCaller(caller, OpenFrame(size), id), VK_DONE) << size;
        EXPECT_EQ(Session_Record(id)->peerFrameSize, size);
        Session_Release(id, ReleasePause::No);
    }
    EXPECT_TRUE(display.Lines().empty());
}

// A peer that announced frames of 3 bytes sends a compressed message whose primer spans
// frames, and pauses: the host repeats its 2-byte read as the result tells it to.
TEST_F(HostilePeer, TinyFramesAndPausesCannotMakeAResumedReadOverrun)
{
    TcpPeer peer;
    short id = WireSession(peer.ConnectLibrary(), TURN_RECEIVE, 2);
    Session_Record(id)->peerFrameSize = 3;
    Session_Record(id)->blocking = 0;
    SESSION_SetTimeout(1000);
    AbortScript script;
    script.Advance(clock, 2);
    // 18 literal spaces (the primer) and "hi", as groups of literals.
    Bytes stream = Bytes{0xFF} + Bytes(8, ' ') + Bytes{0xFF} + Bytes(8, ' ') + Bytes{0xFF} + Bytes(2, ' ') + Text("hi");
    uint8_t buffer[2 + 8];
    memset(buffer, 0xEE, sizeof buffer);
    short rc = VK_NODATA;
    for (size_t at = 0; at < stream.size() && rc == VK_NODATA; at += 3) {
        size_t n = std::min<size_t>(3, stream.size() - at);
        Bytes frame = at + n == stream.size() ? Bytes{0x48, 0x00, static_cast<uint8_t>(n)} : Bytes{0x08};
        peer.Send(frame + Bytes(stream.begin() + static_cast<long>(at), stream.begin() + static_cast<long>(at + n)));
        rc = Session_RxStruct(id, buffer, 2);
    }
    EXPECT_EQ(rc, VK_TURN);
    EXPECT_EQ(Bytes(buffer, buffer + 2), Text("hi"));
    EXPECT_EQ(Bytes(buffer + 2, buffer + sizeof buffer), Bytes(8, 0xEE)) << "nothing written past the read";
}

TEST_F(HostilePeer, AFrameAnnouncingMoreThan256BytesEndsTheSession)
{
    TcpPeer peer;
    short id = WireSession(peer.ConnectLibrary(), TURN_RECEIVE, 0);
    peer.Send(Bytes{0x40, 0x01, 0x01} + Bytes(257, 'x'));
    uint8_t buffer[300];
    EXPECT_EQ(Session_RxStruct(id, buffer, 257), VK_FAIL);
    EXPECT_EQ(Texts(), std::vector<std::string>{"Hardware Level Failure or T.O."});
    EXPECT_EQ(Session_Record(id), nullptr);
}

// A hold at a frame boundary: the reader still gets the whole message and the turn.
TEST_F(HostilePeer, AHoldOnAFrameBoundaryKeepsTheTurn)
{
    for (uint8_t version : {0, 2}) {
        ZIP_SetOfferedVersion(version);
        SessionPair pair;
        ASSERT_TRUE(OpenPair(pair));
        // Plain: 256 bytes are a full frame.  Compressed: one of these lengths has a full
        // frame of code waiting at the hold (literal groups of 9 code bytes after a first
        // group of 13).
        for (size_t extra = 0; extra < (version == 0 ? 1u : 10u); ++extra) {
            Bytes message = version == 0 ? Unique(256) : Bytes(54, ' ') + Unique(240 + extra);
            ASSERT_EQ(Session_TxStruct(pair.caller, message.data(), static_cast<uint16_t>(message.size())), VK_DONE);
            ASSERT_EQ(Session_Hold(pair.caller, 7), VK_DONE);
            ASSERT_EQ(Session_EOM(pair.caller), VK_DONE);
            Bytes got(message.size());
            EXPECT_EQ(Session_RxStruct(pair.listener, got.data(), static_cast<uint16_t>(got.size())), VK_TURN)
                << "version " << +version << ", " << message.size() << " bytes";
            EXPECT_EQ(got, message);
            ASSERT_EQ(Session_TxMsg(pair.listener, "k", 1), VK_DONE);
            uint16_t length = 0;
            char k[1];
            ASSERT_EQ(Session_RxMsg(pair.caller, k, &length), VK_DONE);
        }
        ReleaseAllSessions();
    }
    EXPECT_TRUE(display.Lines().empty());
}

// The peer closes right after reading, writing nothing: its last message is empty.
TEST_F(HostilePeer, AClosingEmptyMessageEndsTheReadersReadWithThree)
{
    for (uint8_t version : {0, 2}) {
        ZIP_SetOfferedVersion(version);
        SessionPair pair;
        ASSERT_TRUE(OpenPair(pair));
        ASSERT_EQ(Session_TxMsg(pair.caller, "q", 1), VK_DONE);
        char q[1];
        uint16_t length = 0;
        ASSERT_EQ(Session_RxMsg(pair.listener, q, &length), VK_DONE);
        ASSERT_EQ(Session_Close(pair.listener), VK_DONE);
        uint32_t value = 0;
        EXPECT_EQ(Session_RxLong(pair.caller, &value), VK_CLOSED) << "version " << +version;
        EXPECT_EQ(Session_Record(pair.caller), nullptr) << "released";
    }
    EXPECT_TRUE(display.Lines().empty());
}

// The send that meets the text releases the session in the middle of a frame, plain or
// compressed: nothing of it may be touched afterwards (the sanitizer build checks).
TEST_F(HostilePeer, TheSendingSideShowsZipLevelFailureAfterThePeersText)
{
    for (uint8_t version : {0, 2}) {
        for (bool end : {false, true}) {
            display.Clear();
            TcpPeer peer;
            int32_t socket = peer.ConnectLibrary();
            short id = WireSession(socket, TURN_SEND, version);
            Bytes part = Unique(300);
            ASSERT_EQ(Session_TxStruct(id, part.data(), 200), VK_DONE);
            peer.Send(Bytes{0x50, 0x00, 0x03, 0x02} + Text(std::string("hi\0", 3)));
            Net_Wait(socket, NetWait::Read, 3000);
            short rc = end ? Session_EOM(id) : Session_TxStruct(id, part.data(), 300);
            EXPECT_EQ(rc, VK_FAIL);
            EXPECT_EQ(Texts(), (std::vector<std::string>{"hi", "ZIP Level Failure"}))
                << (end ? "EOM" : "TxStruct") << ", version " << +version;
            EXPECT_EQ(Session_Record(id), nullptr);
        }
    }
}

TEST_F(HostilePeer, ANonBlockingSendWhoseReadFirstTimesOutShowsOnlyZipLevelFailure)
{
    TcpPeer peer;
    int32_t socket = peer.ConnectLibrary();
    short id = WireSession(socket, TURN_SEND, 0);
    Session_Record(id)->blocking = 0;
    SESSION_SetTimeout(1000);
    AbortScript script;
    script.Advance(clock, 2);
    peer.Send(Bytes{0x00, 'p'});  // the start of a frame, and then nothing
    Net_Wait(socket, NetWait::Read, 3000);
    Bytes part = Unique(300);
    EXPECT_EQ(Session_TxStruct(id, part.data(), 300), VK_FAIL);
    EXPECT_EQ(Texts(), std::vector<std::string>{"ZIP Level Failure"});
    EXPECT_EQ(Session_Record(id), nullptr);
}

TEST_F(HostilePeer, NullPointersAreRefusedOrTakenAsNoBytes)
{
    SessionPair pair;
    ASSERT_TRUE(OpenPair(pair));
    ASSERT_EQ(Session_TxStruct(pair.caller, "abc", 3), VK_DONE);
    EXPECT_EQ(Session_TxStruct(pair.caller, nullptr, 0), VK_DONE) << "no bytes, and no end of the message";
    EXPECT_EQ(Session_TxStruct(pair.caller, nullptr, 5), VK_FAIL);
    EXPECT_EQ(Session_TxMsg(pair.caller, nullptr, 5), VK_FAIL) << "not even its length word goes";
    ASSERT_NE(Session_Record(pair.caller), nullptr) << "refused without harm";
    ASSERT_EQ(Session_TxStruct(pair.caller, "de", 2), VK_DONE);
    ASSERT_EQ(Session_EOM(pair.caller), VK_DONE);
    EXPECT_EQ(Session_RxStruct(pair.listener, nullptr, 4), VK_FAIL);
    ASSERT_NE(Session_Record(pair.listener), nullptr);
    EXPECT_EQ(Session_RxStruct(pair.listener, nullptr, 0), VK_DONE);
    char got[5];
    EXPECT_EQ(Session_RxStruct(pair.listener, got, 5), VK_TURN);
    EXPECT_EQ(std::string(got, 5), "abcde");
    EXPECT_TRUE(display.Lines().empty());
}

// The transport closes a socket it fails on; the release must not close that number
// again, when it may already belong to another session's new socket.
int32_t reusedSocket = NET_NO_SOCKET;
int VKAPI OpenSocketWhileShowing(uint16_t, const char *, uint16_t)
{
    if (reusedSocket == NET_NO_SOCKET) reusedSocket = Net_Socket(NetType::Stream);
    return 0;
}

TEST_F(HostilePeer, ASocketIsClosedExactlyOnce)
{
    TcpPeer peer;
    int32_t socket = peer.ConnectLibrary();
    short id = WireSession(socket, TURN_RECEIVE, 0);
    SESSION_SetDispFunc(OpenSocketWhileShowing);
    reusedSocket = NET_NO_SOCKET;
    peer.Send(Bytes{0x40, 0x00, 0x05, 'a'});
    peer.Close();
    uint8_t buffer[5];
    EXPECT_EQ(Session_RxStruct(id, buffer, 5), VK_FAIL);
    ASSERT_EQ(reusedSocket, socket) << "the new socket took the number the transport closed";
    EXPECT_GE(Net_Wait(reusedSocket, NetWait::Write, 0), 0) << "and the release left it open";
    Net_Close(reusedSocket);
}

TEST_F(HostilePeer, AResetFreesTheSessionsItDrops)
{
    TcpPeer peers[3];
    int32_t sockets[3];
    for (int i = 0; i < 3; ++i) {
        sockets[i] = peers[i].ConnectLibrary();
        WireSession(sockets[i], TURN_SEND);
    }
    Session_Reset();
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(Session_Record(static_cast<int16_t>(i)), nullptr);
        uint8_t byte;
        ASSERT_EQ(Net_Wait(peers[i].Connection(), NetWait::Read, 3000), 1);
        EXPECT_EQ(Net_Recv(peers[i].Connection(), &byte, 1), 0) << "nothing sent: the connection just goes";
    }
    // The leak check of the sanitizer build proves the records, buffers and contexts free.
}

}  // namespace
