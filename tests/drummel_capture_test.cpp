// The serial-port component's capture: link frames of both directions, one pcap record
// each, line noise left out, a new start byte starting the frame again.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "drummel/capture.h"
#include "shared/environment.h"
#include "support/bytes.h"

namespace {

using Bytes = std::vector<uint8_t>;

const char *const FILE_NAME = "drummel_capture_test.pcap";

Bytes ReadAll(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

uint32_t Get32(const Bytes &b, size_t at) { return Bytes_GetLE32(&b[at]); }

// The records' bytes (direction byte and frame), in file order.
std::vector<Bytes> Records(const Bytes &file)
{
    std::vector<Bytes> out;
    for (size_t at = 24; at + 16 <= file.size();) {
        uint32_t kept = Get32(file, at + 8);
        EXPECT_EQ(kept, Get32(file, at + 12));
        out.emplace_back(file.begin() + static_cast<long>(at + 16), file.begin() + static_cast<long>(at + 16 + kept));
        at += 16 + kept;
    }
    return out;
}

class CaptureTest : public ::testing::Test {
protected:
    void SetUp() override { SetEnvironment("DRUMMEL_PCAP7", FILE_NAME); }
    void TearDown() override
    {
        Capture_Close(7);
        SetEnvironment("DRUMMEL_PCAP7", "");
        std::remove(FILE_NAME);
    }
    void Sent(const Bytes &b) { Capture_Sent(7, b.data(), b.size()); }
    void Received(const Bytes &b) { Capture_Received(7, b.data(), b.size()); }
};

TEST_F(CaptureTest, WritesAUser1FileHeader)
{
    Capture_Open(7);
    Bytes file = ReadAll(FILE_NAME);
    ASSERT_EQ(file.size(), 24u);
    EXPECT_EQ(Get32(file, 0), 0xA1B2C3D4u);
    EXPECT_EQ(Get32(file, 16), 65535u);
    EXPECT_EQ(Get32(file, 20), 148u);
}

TEST_F(CaptureTest, RecordsWholeFramesOfEachDirectionWithItsMarker)
{
    Capture_Open(7);
    Received({0x12, 0xC0, 0x41});  // a frame arriving in two pieces
    Sent({0x12, 0x81, 0xC0, 0x60, 0x0D});
    Received({0x90, 0x30, 0x0D});
    std::vector<Bytes> records = Records(ReadAll(FILE_NAME));
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0], (Bytes{1, 0x12, 0x81, 0xC0, 0x60, 0x0D}));
    EXPECT_EQ(records[1], (Bytes{0, 0x12, 0xC0, 0x41, 0x90, 0x30, 0x0D}));
}

TEST_F(CaptureTest, LeavesNoiseOutAndStartsAgainAtAStartByte)
{
    Capture_Open(7);
    Received({0x0D, 0x55, 0x12, 0xC0, 0x41, 0x12, 0x81, 0xC0, 0x60, 0x0D, 0x77});
    std::vector<Bytes> records = Records(ReadAll(FILE_NAME));
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0], (Bytes{0, 0x12, 0x81, 0xC0, 0x60, 0x0D}));
}

TEST_F(CaptureTest, RecordsARunawayFrameAtItsLimit)
{
    Capture_Open(7);
    Bytes endless(20000, 0x41);
    endless[0] = 0x12;
    Received(endless);
    std::vector<Bytes> records = Records(ReadAll(FILE_NAME));
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].size(), 1u + 16384u);
}

TEST_F(CaptureTest, RecordsNothingWithoutTheVariable)
{
    SetEnvironment("DRUMMEL_PCAP7", "");
    Capture_Open(7);
    Received({0x12, 0x81, 0xC0, 0x60, 0x0D});
    EXPECT_TRUE(ReadAll(FILE_NAME).empty());
}

}  // namespace
