// Link frames against the independent vectors and the format's rules.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "link/frame.h"

#ifndef VARNEK_LINK_VECTORS_DIR
#error "VARNEK_LINK_VECTORS_DIR must name the folder of the link vectors"
#endif

namespace {

using Bytes = std::vector<uint8_t>;

Bytes Hex(const std::string &text)
{
    Bytes out;
    for (size_t i = 0; i + 1 < text.size(); i += 2) out.push_back(static_cast<uint8_t>(std::stoi(text.substr(i, 2), nullptr, 16)));
    return out;
}

std::vector<std::vector<std::string>> Rows(const std::string &file)
{
    std::ifstream in(std::string(VARNEK_LINK_VECTORS_DIR) + "/" + file);
    std::vector<std::vector<std::string>> rows;
    std::string line;
    std::getline(in, line);  // header
    while (std::getline(in, line)) {
        std::vector<std::string> cells;
        std::stringstream cellsIn(line);
        std::string cell;
        while (std::getline(cellsIn, cell, '\t')) cells.push_back(cell);
        cells.resize(5);
        rows.push_back(cells);
    }
    return rows;
}

TEST(LinkFrames, EveryVectorEncodesDecodesAndChecks)
{
    if (!std::ifstream(std::string(VARNEK_LINK_VECTORS_DIR) + "/frames.tsv").good()) {
        if (getenv("VARNEK_REQUIRE_VECTORS") != nullptr) FAIL() << "no test vectors in " << VARNEK_LINK_VECTORS_DIR;
        GTEST_SKIP() << "no test vectors in " << VARNEK_LINK_VECTORS_DIR << " (set VARNEK_VECTORS_DIR when configuring)";
    }
    auto rows = Rows("frames.tsv");
    ASSERT_GE(rows.size(), 20u);
    for (const auto &row : rows) {
        uint8_t header = Hex(row[0])[0];
        Bytes data = Hex(row[1]);
        Bytes wire = Hex(row[2]);
        uint16_t crc = static_cast<uint16_t>(std::stoi(row[3], nullptr, 16));
        Bytes out(LinkFrameMax(static_cast<unsigned>(data.size())));
        uint16_t n = LINK_Encode(out.data(), header, data.data(), static_cast<uint16_t>(data.size()));
        EXPECT_EQ(Bytes(out.begin(), out.begin() + n), wire) << row[4];
        Bytes headerAndData = data;
        headerAndData.insert(headerAndData.begin(), header);
        EXPECT_EQ(crc16_CalcStart(headerAndData.data(), static_cast<uint16_t>(headerAndData.size())), crc) << row[4];

        Bytes raw = wire;
        Bytes decoded(data.size() + 2, 0xEE);
        uint16_t length = static_cast<uint16_t>(data.size());
        uint16_t decodedHeader = 0;
        EXPECT_EQ(LINK_Decode(decoded.data(), raw.data(), static_cast<uint16_t>(raw.size()), &length, &decodedHeader), 0)
            << row[4];
        EXPECT_EQ(decodedHeader, header);
        EXPECT_EQ(Bytes(decoded.begin(), decoded.begin() + length), data) << row[4];
    }
    for (const auto &row : Rows("crc.tsv")) {
        Bytes data = Hex(row[0]);
        EXPECT_EQ(crc16_CalcStart(data.data(), static_cast<uint16_t>(data.size())), std::stoi(row[1], nullptr, 16)) << row[2];
    }
}

TEST(LinkFrames, CrcContinues)
{
    const char digits[] = "123456789";
    EXPECT_EQ(crc16_CalcStart(digits, 9), 0xBB3D);
    EXPECT_EQ(crc16_CalcNext(crc16_CalcStart(digits, 4), digits + 4, 5), 0xBB3D);
    EXPECT_EQ(crc16_CalcNext(0x1234, digits, 0), 0x1234);
}

TEST(LinkFrames, DecodingRefusesWhatItCannotTrust)
{
    Bytes noStart = {0x41, 0x42, 0x0D};
    uint16_t length = 8, header = 0;
    uint8_t out[8];
    EXPECT_EQ(LINK_Decode(out, noStart.data(), 3, &length, &header), 0x7FFF);

    const uint8_t data[3] = {1, 2, 3};
    Bytes frame(16);
    frame.resize(LINK_Encode(frame.data(), 0xC0, data, 3));
    for (size_t flip = 1; flip + 1 < frame.size(); ++flip) {
        Bytes bad = frame;
        bad[flip] ^= 0x04;
        length = 8;
        EXPECT_NE(LINK_Decode(out, bad.data(), static_cast<uint16_t>(bad.size()), &length, &header), 0) << flip;
    }

    Bytes exact = frame;
    uint8_t room[4] = {0, 0, 0, 0xAA};
    length = 3;
    EXPECT_EQ(LINK_Decode(room, exact.data(), static_cast<uint16_t>(exact.size()), &length, &header), 0);
    EXPECT_EQ(length, 3) << "a frame of exactly the capacity is accepted";
    EXPECT_EQ(room[3], 0xAA) << "nothing is written past the capacity";

    Bytes big = frame;
    length = 2;
    EXPECT_NE(LINK_Decode(room, big.data(), static_cast<uint16_t>(big.size()), &length, &header), 0)
        << "a good frame with more data than the room is refused";
    EXPECT_LE(length, 2);
}

TEST(LinkFrames, Descriptions)
{
    char text[64];
    LINK_FrameText(0xC0, 5, text);
    EXPECT_STREQ(text, "STX , <1:1:0:0> , <Data=5> , <CRC16> , CR");
    LINK_FrameText(0x89, 0, text);
    EXPECT_STREQ(text, "STX , <1:0:1:1> , <CRC16> , CR");

    uint8_t block[8];
    int16_t code = 8740;
    uint16_t blockNo = 3;
    memcpy(block, &code, 2);
    memcpy(block + 2, &blockNo, 2);
    LINK_FrameDebug(text, block, 104);
    EXPECT_STREQ(text, "Code= 8740 , Bl#=3 , <Data=100>");
    blockNo = 0x8005;
    code = -12;
    memcpy(block, &code, 2);
    memcpy(block + 2, &blockNo, 2);
    LINK_FrameDebug(text, block, 4);
    EXPECT_STREQ(text, "Code=-12 , Bl#=5 LAST, <Data=0>");
    LINK_FrameDebug(text, block, 3);
    EXPECT_STREQ(text, "Code=-12 , <Data=1>");
    LINK_FrameDebug(text, block, 2);
    EXPECT_STREQ(text, "Code=-12");
    LINK_FrameDebug(text, block, 0);
    EXPECT_STREQ(text, "<ACK>");
}

TEST(LinkFrames, HebrewEightToSeven)
{
    char text[] = {'\x80', '\x9A', '\x7F', '\x9B', '\xFF', 0, '\x81', 0};
    LINK_Conv8to7(text, 0);
    EXPECT_EQ(Bytes(text, text + 8), (Bytes{0x60, 0x7A, 0x7F, 0x9B, 0xFF, 0, 0x81, 0})) << "stops at the NUL";
    LINK_Conv8to7(text, 7);
    EXPECT_EQ(static_cast<uint8_t>(text[6]), 0x61) << "runs over NUL bytes when given a count";
}

}  // namespace
