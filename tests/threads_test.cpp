// Sessions on threads: a centre whose listening threads share one service, callers on
// threads of their own, and callers that say nothing or half a frame among them.  Run
// natively and under ThreadSanitizer.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "support/recorders.h"
#include "support/tcp_peer.h"
#include "varnek.h"
#include "zip/zip.h"

namespace {

using Bytes = std::vector<uint8_t>;

// A station message: its 32-bit length, then its bytes, ended.
bool SendMessage(short id, const Bytes &body, bool close = false)
{
    if (Session_TxLong(id, static_cast<uint32_t>(body.size())) != VK_DONE) return false;
    if (!body.empty() && Session_TxStruct(id, body.data(), static_cast<uint16_t>(body.size())) != VK_DONE) return false;
    return (close ? Session_Close(id) : Session_EOM(id)) == VK_DONE;
}

// VK_TURN with the body, VK_CLOSED for the caller's empty closing message, or VK_FAIL.
short ReceiveMessage(short id, Bytes &body)
{
    uint32_t length = 0;
    short rc = Session_RxLong(id, &length);
    if (rc != VK_DONE) return rc == VK_CLOSED && length == 0 ? VK_CLOSED : VK_FAIL;
    body.assign(length, 0);
    return Session_RxStruct(id, body.data(), static_cast<uint16_t>(length));
}

Bytes MessageOf(int caller, int n)
{
    std::string text;
    while (text.size() < 700) text += "caller " + std::to_string(caller) + " message " + std::to_string(n) + "; ";
    text += std::to_string(caller * 7919 + n);
    return Bytes(text.begin(), text.end());
}

// A centre: `workers` threads, each on its own slot, wait for callers on one service and
// echo every message until the caller closes; a failed open only sends the thread back
// to waiting.
class Centre {
public:
    static std::unique_ptr<Centre> Start(uint16_t port, int workers)
    {
        std::unique_ptr<Centre> centre(new Centre());
        memcpy(centre->params_.localName, "CENTRE", 6);
        memcpy(centre->params_.localAddress, AddressText().text, 16);
        centre->params_.service = port;
        centre->running_ = workers;
        Centre *c = centre.get();
        for (int w = 0; w < workers; ++w) c->threads_.emplace_back([c, w] { c->Serve(static_cast<short>(w)); });
        return centre;
    }

    // Stops the threads: the listening socket closes under the waiting accepts, and
    // callers that connect and leave at once release those still on their way to one.
    void Stop(uint16_t port)
    {
        stop_ = true;
        while (running_ != 0) {
            TCPAPI_End();
            TcpPeer knock;
            knock.ConnectSoon(port);
            knock.Join();
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        for (std::thread &t : threads_) t.join();
        TCPAPI_End();
    }

    long Opened() const { return opened_; }
    long Echoed() const { return echoed_; }

private:
    Centre() = default;

    void Serve(short slot)
    {
        while (!stop_) {
            short id = slot;
            SessionOpenParams params = params_;
            SessionPeerInfo peer{};
            if (Session_Create(&id) != VK_DONE || Session_WaitForOpen(id, &params, &peer) != VK_DONE) continue;
            ++opened_;
            Bytes body;
            while (ReceiveMessage(id, body) == VK_TURN && SendMessage(id, body)) ++echoed_;
        }
        --running_;
    }

    SessionOpenParams params_{};
    std::vector<std::thread> threads_;
    std::atomic<bool> stop_{false};
    std::atomic<int> running_{0};
    std::atomic<long> opened_{0};
    std::atomic<long> echoed_{0};
};

// A caller on its own slot: opens, sends `messages` messages, checks each echo byte
// for byte, closes.  True when every echo came back intact.
bool Converse(short slot, uint16_t port, int caller, int messages)
{
    short id = slot;
    SessionOpenParams params{};
    memcpy(params.localName, "CALLER", 6);
    memcpy(params.remoteAddress, AddressText().text, 16);
    params.service = port;
    SessionPeerInfo peer{};
    if (Session_Create(&id) != VK_DONE || Session_Open(id, &params, &peer) != VK_OPENED) return false;
    if (memcmp(peer.localName, "CENTRE", 6) != 0) return false;
    uint8_t version = 0;
    if (ZIP_GetVersion(static_cast<uint16_t>(id), &version) != 0 || version != 2) return false;
    for (int n = 0; n < messages; ++n) {
        Bytes sent = MessageOf(caller, n);
        Bytes echo;
        if (!SendMessage(id, sent) || ReceiveMessage(id, echo) != VK_TURN || echo != sent) return false;
    }
    return SendMessage(id, Bytes(), true);
}

class Threads : public ::testing::Test {
public:
    void SetUp() override
    {
        Session_Reset();
        port = FreeLoopbackPort();
    }
    void TearDown() override { TCPAPI_End(); }

    SocketService sockets;
    uint16_t port = 0;
};

// Callers on the slots after the centre's.
std::vector<bool> RunCallers(int first, int count, uint16_t port, int messages)
{
    std::vector<char> served(static_cast<size_t>(count), 0);
    std::vector<std::thread> callers;
    for (int c = 0; c < count; ++c) {
        callers.emplace_back([&served, first, c, port, messages] {
            served[static_cast<size_t>(c)] = Converse(static_cast<short>(first + c), port, c, messages) ? 1 : 0;
        });
    }
    for (std::thread &t : callers) t.join();
    return std::vector<bool>(served.begin(), served.end());
}

TEST_F(Threads, CompressionRecordsOfSessionsOnDifferentThreadsStayApart)
{
    // Ids of the session table's slots and ids above it, each worked by its own thread.
    std::vector<uint16_t> ids;
    for (uint16_t id = 480; id < 520; ++id) ids.push_back(id);
    std::atomic<int> wrong{0};
    std::vector<std::thread> workers;
    for (uint16_t id : ids) {
        workers.emplace_back([id, &wrong] {
            for (int round = 0; round < 200; ++round) {
                uint8_t version = 9;
                uint8_t mine = static_cast<uint8_t>(id + round);
                if (ZIP_ZipCreate(id, 256) != 0 || ZIP_UnzipCreate(id, 256) != 0) ++wrong;
                if (ZIP_SetVersion(id, mine) != 0) ++wrong;
                if (ZIP_GetVersion(id, &version) != 0 || version != mine) ++wrong;
                if (ZIP_ZipDelete(id) != 0 || ZIP_UnzipDelete(id) != -1) ++wrong;
                if (ZIP_GetVersion(id, &version) != -1 || version != 0) ++wrong;
            }
        });
    }
    for (std::thread &t : workers) t.join();
    EXPECT_EQ(wrong, 0);
}

TEST_F(Threads, HundredsOfSessionsOnTheirOwnThreadsCarryEveryMessageIntact)
{
    constexpr int SESSIONS = 120;
    constexpr int MESSAGES = 3;
    auto centre = Centre::Start(port, SESSIONS);
    std::vector<bool> served = RunCallers(SESSIONS, SESSIONS, port, MESSAGES);
    centre->Stop(port);
    EXPECT_EQ(std::vector<bool>(SESSIONS, true), served);
    EXPECT_EQ(centre->Opened(), SESSIONS);
    EXPECT_EQ(centre->Echoed(), SESSIONS * MESSAGES);
}

TEST_F(Threads, SilentHalfFrameAndDeadCallersHoldOnlyTheirOwnThreads)
{
    constexpr int WORKERS = 120;
    constexpr int HONEST = 12;
    // Short time-outs on both sides: a silent caller holds its thread two to three
    // seconds, and an honest caller whose open frame were not answered within its own
    // time-out would fail its open, so every honest open that succeeds was served within
    // one time-out plus a second, whatever the strangers did.
    SESSION_SetTimeout(2000);
    auto centre = Centre::Start(port, WORKERS);
    std::vector<std::unique_ptr<TcpPeer>> strangers;
    auto connect = [&] {
        strangers.push_back(std::make_unique<TcpPeer>());
        strangers.back()->ConnectSoon(port);
        return strangers.back()->Join();
    };
    for (int i = 0; i < 3; ++i) ASSERT_TRUE(connect());  // silent
    for (int i = 0; i < 3; ++i) {                         // the first bytes of an open frame
        ASSERT_TRUE(connect());
        ASSERT_TRUE(strangers.back()->Send(Bytes{0xC0, 0x04, 0x02, 0x13}));
    }
    for (int i = 0; i < 100; ++i) {  // dead: gone before saying anything
        ASSERT_TRUE(connect());
        strangers.back()->Close();
    }
    std::vector<bool> served = RunCallers(WORKERS, HONEST, port, 2);
    strangers.clear();
    centre->Stop(port);
    EXPECT_EQ(std::vector<bool>(HONEST, true), served) << "every honest caller served";
    EXPECT_GE(centre->Opened(), HONEST);
}

}  // namespace
