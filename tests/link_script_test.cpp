// Recording received frames to a script file and replaying them in place of the line.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

#include "link/link.h"
#include "support/bytes.h"
#include "support/fake_platform.h"
#include "support/link_peer.h"

#ifdef _WIN32
#include <direct.h>
#define chdir _chdir
#else
#include <unistd.h>
#endif

namespace {

void WriteText(const std::string &path, const std::string &text)
{
    std::ofstream out(path, std::ios::binary);
    out << text;
}

Bytes ReadAll(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

Bytes operator+(Bytes a, const Bytes &b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

Bytes Record(uint8_t type, const Bytes &payload)
{
    // Sized first and filled from the tail, so that GCC sees the copy in bounds.
    Bytes r(5 + payload.size(), 0);
    r[0] = type;
    Bytes_PutLE32(&r[1], static_cast<uint32_t>(payload.size()));
    std::copy(payload.begin(), payload.end(), r.end() - static_cast<std::ptrdiff_t>(payload.size()));
    return r;
}

// The settings file is read once per process: one test goes through it all.
TEST(LinkScripts, RecordThenReplayInPlaceOfTheLine)
{
    UseBuiltComponent();
    std::string dir = ::testing::TempDir() + "varnek-scripts";
    SetEnvironment("VARNEK_SCRIPT_DIR", dir);
    ASSERT_EQ(chdir(::testing::TempDir().c_str()), 0);
    WriteText("LINKSCRIPT.INI", "port = 31 mode = write\nport=32 mode=Read\nport = 600 mode = write\n"
                                "port = 33 mode = bogus\nport = 34 mode = " + std::string(300, 'W') +
                                "\nPORT = 35 mode = write\nport = 36 mode = read\n");
    EXPECT_EQ(LINK_ScriptInit(), 0);
    EXPECT_EQ(LINK_ScriptInit(), 1) << "once per process";
    EXPECT_EQ(LINK_IsScriptRead(32), 1);
    EXPECT_EQ(LINK_IsScriptRead(31), 0);
    EXPECT_EQ(LINK_IsScriptRead(36), 0) << "reading ended at PORT";
    remove((dir + "/LINKSCRIPT.31").c_str());

    // Recording: two frames and a wait that ends without one.
    SocketService service;
    LinkPeer peer;
    ASSERT_TRUE(peer.Open(31, 100));
    Bytes ack = LinkPeer::Frame(0x81);
    Bytes data = LinkPeer::Frame(0xC0, {0x0D, 'x'});
    peer.Send(ack);
    peer.Send(data);
    uint8_t raw[LINK_BUFFER_SIZE];
    EXPECT_EQ(LINK_ReadRaw(31, raw, LINK_BUFFER_SIZE), ack.size());
    EXPECT_EQ(LINK_ReadRaw(31, raw, LINK_BUFFER_SIZE), data.size());
    EXPECT_EQ(LINK_ReadRaw(31, raw, LINK_BUFFER_SIZE), 0);
    LINK_Close(31);
    Bytes script = ReadAll(dir + "/LINKSCRIPT.31");
    EXPECT_EQ(script, Record(2, ack) + Record(2, data) + Record(2, {}));

    // Replay on port 32: the two frames, a time-out, the end, then again from the start.
    FakeClock clock;
    WriteText(dir + "/LINKSCRIPT.32", std::string(script.begin(), script.end()));
    TakeTraces();
    EXPECT_EQ(LINK_ReadRaw(32, raw, LINK_BUFFER_SIZE), ack.size());
    EXPECT_EQ(Bytes(raw, raw + ack.size()), ack);
    EXPECT_EQ(LINK_ReadRaw(32, raw, LINK_BUFFER_SIZE), data.size());
    EXPECT_EQ(LINK_ReadRaw(32, raw, LINK_BUFFER_SIZE), 0) << "the recorded time-out";
    EXPECT_EQ(LINK_ReadRaw(32, raw, LINK_BUFFER_SIZE), 0);
    EXPECT_EQ(TakeTraces(), (std::vector<std::string>{"SCRIPT READ : Read End Of File (read)"}));
    EXPECT_EQ(LINK_ReadRaw(32, raw, LINK_BUFFER_SIZE), ack.size()) << "from the first record again";
    EXPECT_EQ(clock.SleptMs(), 4u * 200) << "each frame record replayed after 200 ms";

    // Records that cannot be used are passed over.
    EXPECT_EQ(LINK_ReadRaw(32, raw, LINK_BUFFER_SIZE), data.size());
    EXPECT_EQ(LINK_ReadRaw(32, raw, LINK_BUFFER_SIZE), 0);
    EXPECT_EQ(LINK_ReadRaw(32, raw, LINK_BUFFER_SIZE), 0) << "the end: the next pass starts at 0";
    Bytes odd = Record(1, {1, 0, 0, 0}) + Record(7, {1, 2, 3}) + Record(1, {9, 9}) + Record(2, Bytes(5000, 0x12)) +
                Record(2, ack);
    WriteText(dir + "/LINKSCRIPT.32", std::string(odd.begin(), odd.end()));
    uint64_t slept = clock.SleptMs();
    EXPECT_EQ(LINK_ReadRaw(32, raw, LINK_BUFFER_SIZE), 0) << "a frame longer than 4160 bytes counts as a time-out";
    EXPECT_EQ(clock.SleptMs() - slept, 100u) << "after a pause of one tenth; the other records skipped";
    EXPECT_EQ(LINK_ReadRaw(32, raw, LINK_BUFFER_SIZE), ack.size()) << "the position moved past it";

    // A length that reaches past the end of the file (0xFFFFFFFB: backwards, in a 32-bit
    // long) is the end of the file, every time.
    Bytes far = Bytes{7, 0xFB, 0xFF, 0xFF, 0xFF} + Record(2, ack);
    WriteText(dir + "/LINKSCRIPT.32", std::string(far.begin(), far.end()));
    LINK_ReadRaw(32, raw, LINK_BUFFER_SIZE);  // ends the pass over the earlier file
    TakeTraces();
    EXPECT_EQ(LINK_ReadRaw(32, raw, LINK_BUFFER_SIZE), 0);
    EXPECT_EQ(LINK_ReadRaw(32, raw, LINK_BUFFER_SIZE), 0);
    EXPECT_EQ(TakeTraces(), (std::vector<std::string>{"SCRIPT READ : Read End Of File (read)",
                                                      "SCRIPT READ : Read End Of File (read)"}));
}

}  // namespace
