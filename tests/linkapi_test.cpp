// The serial bridge and the centre log-in, against a scripted station on a TCP line.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <thread>

#include "session/session.h"
#include "support/abort_script.h"
#include "support/bytes.h"
#include "support/fake_platform.h"
#include "support/link_peer.h"
#include "support/session_wiring.h"
#include "transport/linkapi.h"

namespace {

std::vector<std::string> reports;
void Record(short, const char *text) { reports.push_back(text); }

// The far station: keeps its own sequence numbers and speaks in application blocks.
class FarStation {
public:
    explicit FarStation(LinkPeer &peer) : peer_(peer) {}

    void SendBlock(const Bytes &payload, uint16_t blockNo = 1, uint16_t code = 8740)
    {
        Bytes block(4 + payload.size());
        Bytes_PutBE16(&block[0], code);
        Bytes_PutBE16(&block[2], blockNo);
        std::copy(payload.begin(), payload.end(), block.begin() + 4);
        peer_.Send(LinkPeer::Frame(static_cast<uint8_t>(0xC0 | expect_ << 3 | send_), block));
        send_ = (send_ + 1) % 8;
    }
    void SendAck() { peer_.Send(LinkPeer::Frame(static_cast<uint8_t>(0x81 | expect_ << 3))); }

    // The data of the next frame from the station under test (empty for an ACK).
    Bytes Receive(uint32_t timeoutMs = 2000)
    {
        std::vector<Bytes> frames = peer_.Frames(timeoutMs, 1);
        if (frames.empty()) return Bytes{0xFF};
        Bytes raw = frames[0];
        Bytes data(4096);
        uint16_t length = 4096, header = 0;
        LINK_Decode(data.data(), raw.data(), static_cast<uint16_t>(raw.size()), &length, &header);
        if (header & 0x40) expect_ = (expect_ + 1) % 8;
        data.resize(length);
        return data;
    }

private:
    LinkPeer &peer_;
    uint8_t send_ = 0;
    uint8_t expect_ = 0;
};

class Bridge : public ::testing::Test {
protected:
    void SetUp() override
    {
        UseBuiltComponent();
        ASSERT_TRUE(peer.Open(port, 300));
        LINKAPI_Reset(port);
        reports.clear();
        Session_SetDebugSink(Record);
    }
    void TearDown() override
    {
        Session_SetDebugSink(nullptr);
        LINK_Close(port);
    }
    short port = 9;
    SocketService service;
    LinkPeer peer;
    FarStation far{peer};
};

TEST_F(Bridge, LogInToTheCentre)
{
    LINKAPI_SetP2P(port, 0);
    far.SendBlock({2, 0, 0, 0, 0, 0});
    std::thread centre([&] {
        Bytes record = far.Receive();
        ASSERT_EQ(record.size(), 75u) << "a 4-byte block header and the 71-byte record";
        EXPECT_EQ(Bytes(record.begin(), record.begin() + 4), (Bytes{0x22, 0x24, 0x00, 0x01})) << "code 8740, block 1";
        EXPECT_EQ(Bytes(record.begin() + 4, record.begin() + 16),
                  (Bytes{0, 0, 0, 1, 0, 0, 0, 2, 0, 3, 0x13, 0x8D}))
            << "numbers 1, 2, 3 and the port at record bytes 10-11";
        EXPECT_EQ(std::string(record.begin() + 4 + 19, record.begin() + 4 + 40), "612949081726354453627");
        EXPECT_EQ(std::string(record.begin() + 4 + 63, record.end()), "86420975");
        far.SendAck();
    });
    EXPECT_EQ(LINKAPI_Open(port, 5005), LINKAPI_DONE);
    centre.join();
    EXPECT_EQ(reports, (std::vector<std::string>{"LogIn to Center", "LogIn Success"}));
}

TEST_F(Bridge, AGreetingBelowTwoIsARefusal)
{
    LINKAPI_SetP2P(port, 0);
    far.SendBlock({1, 0, 0, 0, 0, 0});
    EXPECT_EQ(LINKAPI_Open(port, 5005), LINKAPI_FAILED);
    EXPECT_EQ(reports, (std::vector<std::string>{"LogIn to Center", "Center Deny"}));
}

TEST_F(Bridge, ASeventhGreetingByteAnswersTheLogIn)
{
    LINKAPI_SetP2P(port, 0);
    far.SendBlock({2, 0, 0, 0, 0, 0, 9});
    EXPECT_EQ(LINKAPI_Open(port, 5005), LINKAPI_DONE) << "no further frame awaited";
    EXPECT_EQ(reports.back(), "LogIn Success");
    EXPECT_EQ(far.Receive().size(), 75u);
}

// A link that fails at once (a port never opened) is tried about once a second until
// the log-in's 10 seconds are over, not in a busy loop.
TEST_F(Bridge, ALinkThatFailsAtOnceIsTriedOnceASecond)
{
    short unopened = 10;
    LINKAPI_Reset(unopened);
    LINKAPI_SetP2P(unopened, 0);
    FakeClock clock;
    AbortScript script;
    script.StopAt(3000);  // a busy loop would be stopped here, not hang the test
    TakeTraces();
    EXPECT_EQ(LINKAPI_Open(unopened, 5005), LINKAPI_FAILED);
    EXPECT_EQ(reports, (std::vector<std::string>{"LogIn to Center", "LogIn Timeout"}));
    EXPECT_LE(clock.LongestSleepMs(), 10u);
    EXPECT_LT(TakeTraces().size(), 150u) << "about eleven tries";
}

TEST_F(Bridge, PeerToPeerStartsSilentlyAndBlocksCountFromOne)
{
    LINKAPI_SetP2P(port, 1);
    EXPECT_EQ(LINKAPI_Open(port, 5005), LINKAPI_DONE);
    EXPECT_EQ(reports, (std::vector<std::string>{"p2p connection"}));
    EXPECT_EQ(LINKAPI_Write(port, reinterpret_cast<const uint8_t *>("0123456789"), 10), LINKAPI_DONE);
    EXPECT_EQ(LINKAPI_Push(port), LINKAPI_DONE);
    Bytes block = far.Receive();
    EXPECT_EQ(block, (Bytes{0x22, 0x24, 0x00, 0x01, '0', '1', '2', '3', '4', '5', '6', '7', '8', '9'}));
}

TEST_F(Bridge, TracesNameEachBlockByCodeAndNumberInEitherDirection)
{
    LINKAPI_SetP2P(port, 1);
    LINKAPI_Open(port, 5005);
    TakeTraces();
    LINKAPI_Write(port, reinterpret_cast<const uint8_t *>("0123456789"), 10);
    LINKAPI_Push(port);
    EXPECT_EQ(far.Receive(), (Bytes{0x22, 0x24, 0x00, 0x01, '0', '1', '2', '3', '4', '5', '6', '7', '8', '9'}));
    far.SendBlock({'a', 'b', 'c', 'd', 'e'}, 0x8002, 8739);
    uint8_t buffer[8] = {};
    uint16_t count = 5;
    EXPECT_EQ(LINKAPI_Read(port, buffer, &count), LINKAPI_DONE);
    std::vector<std::string> bridge;
    for (const std::string &line : TakeTraces()) {
        if (line.rfind("APPCOM", 0) == 0) bridge.push_back(line);
    }
    EXPECT_EQ(bridge, (std::vector<std::string>{"APPCOM Send : Code= 8740 , Bl#=1 , <Data=10>",
                                                "APPCOM Rcv  : Code= 8739 , Bl#=2 LAST, <Data=5>"}));
}

TEST_F(Bridge, ReadsTakeWhatTheyNeedAndPassTheTurn)
{
    LINKAPI_WaitForOpen(port);
    LINKAPI_NuRecSize(port, 8740);
    far.SendBlock({'a', 'b', 'c', 'd', 'e'}, 2);
    uint8_t buffer[8] = {};
    uint16_t count = 3;
    EXPECT_EQ(LINKAPI_Read(port, buffer, &count), LINKAPI_DONE);
    EXPECT_EQ(std::string(reinterpret_cast<char *>(buffer), 3), "abc");
    std::thread answer([&] {
        EXPECT_EQ(far.Receive(), Bytes{}) << "short of data with the turn: an empty frame first";
        far.SendBlock({'f', 'g'}, 3);
    });
    count = 4;
    EXPECT_EQ(LINKAPI_Read(port, buffer, &count), LINKAPI_DONE);
    answer.join();
    EXPECT_EQ(std::string(reinterpret_cast<char *>(buffer), 4), "defg") << "the rest of one block and the next";
    count = 40000;
    EXPECT_EQ(LINKAPI_Read(port, buffer, &count), LINKAPI_FAILED) << "counts from 32768 are refused";
}

TEST_F(Bridge, RecordLimitsAndRefusals)
{
    EXPECT_EQ(LINKAPI_Reset(0), LINKAPI_FAILED);
    EXPECT_EQ(LINKAPI_Reset(501), LINKAPI_FAILED);
    LINKAPI_WaitForOpen(port);
    LinkApiPort *p = LINKAPI_Port(port);
    p->recLimit = 0;
    EXPECT_EQ(LINKAPI_Write(port, reinterpret_cast<const uint8_t *>("x"), 1), LINKAPI_FAILED) << "can never fit";
    EXPECT_EQ(LINKAPI_NuRecSize(port, 8741), LINKAPI_FAILED);
    EXPECT_EQ(p->recLimit, 0) << "another code leaves the limit";
    EXPECT_EQ(LINKAPI_NuRecSize(port, 8739), LINKAPI_DONE);
    EXPECT_EQ(p->recLimit, 1040);
    peer.Send(LinkPeer::Frame(0xC0, {0x22, 0x24}));  // a data frame of two bytes: no block header
    uint8_t buffer[4];
    uint16_t count = 1;
    EXPECT_EQ(LINKAPI_Read(port, buffer, &count), LINKAPI_FAILED);
}

}  // namespace
