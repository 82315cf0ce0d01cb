// The station's header (varnek_debug.h) and the frame cutters it shares with the tests.
#include <gtest/gtest.h>

#include <cstring>

#include "shared/wire.h"
#include "support/session_wiring.h"
#include "support/tcp_peer.h"
#include "transport/login_record.h"
#include "varnek_debug.h"

extern "C" int DebugHeaderFromC(void);

namespace {

TEST(DebugHeader, CompilesAndLinksAsC) { EXPECT_EQ(DebugHeaderFromC(), 3) << "\"END\""; }

TEST(DebugHeader, DescribesAnApplicationBlockAsItTravels)
{
    uint8_t block[104] = {0x22, 0x24, 0x00, 0x03};
    char text[64];
    VKD_BlockText(block, sizeof block, text);
    EXPECT_STREQ(text, "Code= 8740 , Bl#=3 , <Data=100>");
    VKD_BlockText(block, 0, text);
    EXPECT_STREQ(text, "<ACK>");
    uint16_t code = 0, blockNo = 0;
    EXPECT_EQ(VKD_BlockFields(block, 3, &code, &blockNo), 0);
    ASSERT_EQ(VKD_BlockFields(block, 4, &code, &blockNo), 1);
    EXPECT_EQ(code, 8740);
    EXPECT_EQ(blockNo, 3);
}

TEST(DebugHeader, ReadsScriptRecordHeadersLeastSignificantByteFirst)
{
    const uint8_t record[] = {VKD_SCRIPT_FRAME, 0x34, 0x12, 0x00, 0x01};
    uint8_t type = 0;
    uint32_t length = 0;
    EXPECT_EQ(VKD_ScriptRecord(record, 4, &type, &length), 0) << "a header cut short";
    ASSERT_EQ(VKD_ScriptRecord(record, sizeof record, &type, &length), 1);
    EXPECT_EQ(type, VKD_SCRIPT_FRAME);
    EXPECT_EQ(length, 0x01001234u);
    const uint8_t pause[] = {7, 0, 0, 0};
    EXPECT_EQ(VKD_ScriptPause(pause, 4), 7u);
    EXPECT_EQ(VKD_ScriptPause(pause, 3), 0u);
}

TEST(DebugHeader, ReadsTheLogInRecordTheBridgeSendsAndRefusesAnyOther)
{
    uint8_t record[VKD_LOGIN_RECORD_SIZE];
    LOGIN_Build(record, 5005);
    uint16_t port = 0;
    EXPECT_EQ(VKD_LoginRecordRead(record, &port), 1);
    EXPECT_EQ(port, 5005);
    for (size_t at : {size_t(3), size_t(18), size_t(50), size_t(70)}) {
        uint8_t changed[VKD_LOGIN_RECORD_SIZE];
        memcpy(changed, record, sizeof changed);
        changed[at] ^= 0x01;
        EXPECT_EQ(VKD_LoginRecordRead(changed, &port), 0) << "byte " << at;
        EXPECT_EQ(port, 5005) << "the port is read all the same";
    }
}

TEST(DebugHeader, TellsATcpSessionsPeerAndNothingForASessionThatIsGone)
{
    SocketService service;
    Session_Reset();
    TcpPeer peer;
    int32_t socket = peer.ConnectLibrary();
    ASSERT_NE(socket, -1);
    short id = WireSession(socket, TURN_SEND);
    uint8_t addr[4] = {};
    EXPECT_EQ(VKD_SessionExists(id), 1);
    ASSERT_EQ(VKD_SessionPeerAddress(id, addr), 1);
    EXPECT_EQ(addr[0], 127);
    EXPECT_EQ(addr[3], 1);
    ReleaseAllSessions();
    EXPECT_EQ(VKD_SessionExists(id), 0);
    EXPECT_EQ(VKD_SessionPeerAddress(id, addr), 0);
    EXPECT_EQ(VKD_SessionPeerAddress(-1, addr), 0);
}

std::vector<Bytes> CutSession(const Bytes &stream)
{
    SessionFrameCutter cutter;
    std::vector<Bytes> frames;
    for (uint8_t b : stream) {
        if (cutter.Push(b)) frames.push_back(cutter.Frame());
    }
    return frames;
}

TEST(FrameCutters, CutASessionStreamWhereEachFrameEnds)
{
    Bytes open(42, 0);
    open[0] = 0xC0;
    Bytes last = {0x40, 0x00, 0x02, 'h', 'i'};
    Bytes full(257, 'x');
    full[0] = 0x08;
    Bytes stream = open;
    stream.insert(stream.end(), last.begin(), last.end());
    stream.insert(stream.end(), full.begin(), full.end());
    stream.push_back(0x40);  // a frame begun, not complete
    EXPECT_EQ(CutSession(stream), (std::vector<Bytes>{open, last, full}));
}

TEST(FrameCutters, CutLinkFramesAndSkipTheNoiseBetween)
{
    LinkFrameCutter cutter;
    std::vector<Bytes> frames;
    for (uint8_t b : Bytes{0x55, 0x0D, 0x12, 0xC0, 0x41, 0x0D, 0x0D, 0x12, 0x81, 0x0D, 0x12}) {
        if (cutter.Push(b)) frames.push_back(cutter.Frame());
    }
    EXPECT_EQ(frames, (std::vector<Bytes>{{0x12, 0xC0, 0x41, 0x0D}, {0x12, 0x81, 0x0D}}));
}

}  // namespace
