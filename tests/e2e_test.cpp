// Two stations in two processes over loopback: this test driver, on the public
// interface, and the varnek program listening.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <thread>

#include "support/child_process.h"
#include "support/recorders.h"
#include "support/tcp_peer.h"
#include "varnek.h"

#ifndef VARNEK_STATION
#error "VARNEK_STATION must name the varnek program"
#endif

namespace {

class TwoProcesses : public ::testing::Test {
public:
    void SetUp() override
    {
        Session_Reset();
        display.Install();
        port = FreeLoopbackPort();
        output = ::testing::TempDir() + "varnek-listen-" + std::to_string(port) + ".txt";
    }
    void TearDown() override
    {
        Session_Close(id);
        TCPAPI_End();
    }

    void StartListener(std::vector<std::string> extra)
    {
        std::vector<std::string> argv = {VARNEK_STATION, "listen", "127.0.0.1:" + std::to_string(port), "--count", "1"};
        argv.insert(argv.end(), extra.begin(), extra.end());
        ASSERT_TRUE(listener.Start(argv, output));
    }

    // Calls the listener, retrying while it starts up.
    short Call(bool nonBlocking = false)
    {
        SessionOpenParams params{};
        memcpy(params.localName, "DRIVER", 6);
        snprintf(params.remoteAddress, sizeof params.remoteAddress, "127.000.000.001");
        params.service = port;
        short rc = VK_FAIL;
        for (int attempt = 0; attempt < 500 && rc != VK_OPENED; ++attempt) {
            id = -1;
            Session_Create(&id);
            rc = nonBlocking ? Session_OpenNbm(id, &params, &peer) : Session_Open(id, &params, &peer);
            if (rc != VK_OPENED) std::this_thread::sleep_for(std::chrono::milliseconds(10));  // still starting
        }
        return rc;
    }

    // A station message: its length, then the bytes in pieces of random sizes.
    void SendMessage(const Bytes &body)
    {
        ASSERT_EQ(Session_TxLong(id, static_cast<uint32_t>(body.size())), VK_DONE);
        for (size_t at = 0; at < body.size();) {
            size_t piece = std::min<size_t>(1 + rng() % 65535, body.size() - at);
            ASSERT_EQ(Session_TxStruct(id, body.data() + at, static_cast<uint16_t>(piece)), VK_DONE);
            at += piece;
        }
        ASSERT_EQ(Session_EOM(id), VK_DONE);
    }

    Bytes ReceiveMessage()
    {
        uint32_t length = 0;
        short rc = Session_RxLong(id, &length);
        if (rc != VK_DONE) return Bytes();
        Bytes body(length);
        for (size_t at = 0; at < length;) {
            size_t piece = std::min<size_t>(1 + rng() % 65535, length - at);
            rc = Session_RxStruct(id, body.data() + at, static_cast<uint16_t>(piece));
            at += piece;
            EXPECT_EQ(rc, at < length ? VK_DONE : VK_TURN);
            if (rc != VK_DONE && rc != VK_TURN) return Bytes();
        }
        return body;
    }

    void CloseWithEmptyMessage()
    {
        ASSERT_EQ(Session_TxLong(id, 0), VK_DONE);
        ASSERT_EQ(Session_Close(id), VK_DONE);
        id = -1;
    }

    Bytes Message(size_t n)
    {
        Bytes body(n);
        for (size_t i = 0; i < n; ++i) body[i] = static_cast<uint8_t>(i % 3 == 0 ? rng() : 'A' + (i / 64) % 20);
        return body;
    }

    SocketService service;
    DisplayRecorder display;
    ChildProcess listener;
    std::mt19937 rng{2026};
    uint16_t port = 0;
    std::string output;
    short id = -1;
    SessionPeerInfo peer{};
};

void Exchange(TwoProcesses &t, bool compressed)
{
    for (size_t n : {size_t(0), size_t(1), size_t(255), size_t(256), size_t(257), size_t(65535), size_t(65536),
                     size_t(200000), size_t(1000000)}) {
        Bytes body = t.Message(n);
        t.SendMessage(body);
        EXPECT_EQ(t.ReceiveMessage(), body) << n << " bytes, compressed " << compressed;
    }
}

TEST_F(TwoProcesses, MessagesUpToAMillionBytesComeBackIdentical)
{
    StartListener({"--echo", "--pieces", "11"});
    ASSERT_EQ(Call(), VK_OPENED);
    uint8_t version = 0;
    ZIP_GetVersion(id, &version);
    EXPECT_EQ(version, 2);
    Exchange(*this, true);
    CloseWithEmptyMessage();
    EXPECT_EQ(listener.Wait(60), 0);
    EXPECT_NE(listener.Output().find("closed by the caller"), std::string::npos) << listener.Output();
}

TEST_F(TwoProcesses, UncompressedMessagesComeBackIdentical)
{
    StartListener({"--echo", "--pieces", "12", "--no-compress"});
    ASSERT_EQ(Call(), VK_OPENED);
    uint8_t version = 9;
    ZIP_GetVersion(id, &version);
    EXPECT_EQ(version, 0) << "the listener offered 0";
    Exchange(*this, false);
    CloseWithEmptyMessage();
    EXPECT_EQ(listener.Wait(60), 0);
}

TEST_F(TwoProcesses, TheListenerShowsTheCallersAbort)
{
    StartListener({"--echo"});
    ASSERT_EQ(Call(), VK_OPENED);
    SendMessage(Message(10));
    EXPECT_EQ(ReceiveMessage().size(), 10u);
    EXPECT_EQ(Session_Abort(id, "driver stops"), VK_DONE);
    id = -1;
    EXPECT_EQ(listener.Wait(30), 3);
    EXPECT_NE(listener.Output().find("status: port 1: driver stops"), std::string::npos) << listener.Output();
}

TEST_F(TwoProcesses, TheCallerShowsTheListenersAbort)
{
    StartListener({"--abort-after", "1", "listener stops"});
    ASSERT_EQ(Call(), VK_OPENED);
    SendMessage(Message(10));
    uint32_t length = 0;
    EXPECT_EQ(Session_RxLong(id, &length), VK_FAIL);
    EXPECT_EQ(display.Lines().back(), (DisplayLine{1, "listener stops", 1}));
    id = -1;
    EXPECT_EQ(listener.Wait(30), 3);
}

TEST_F(TwoProcesses, NonBlockingReceiveGivesZeroThenTheData)
{
    StartListener({"--echo", "--delay", "2500"});
    ASSERT_EQ(Call(true), VK_OPENED);
    SESSION_SetTimeout(1000);
    Bytes body = Message(3000);
    SendMessage(body);
    uint32_t length = 0;
    int zeros = 0;
    short rc;
    while ((rc = Session_RxLong(id, &length)) == VK_NODATA) ++zeros;
    EXPECT_GE(zeros, 1);
    ASSERT_EQ(rc, VK_DONE);
    EXPECT_EQ(length, 3000u);
    Bytes got(length);
    EXPECT_EQ(Session_RxStruct(id, got.data(), 3000), VK_TURN);
    EXPECT_EQ(got, body);
    CloseWithEmptyMessage();
    EXPECT_EQ(listener.Wait(30), 0);
}

}  // namespace
