// Byte-order conversion and the block manager.
#include <gtest/gtest.h>

#include <vector>

#include "support/recorders.h"
#include "varnek.h"

namespace {

using Bytes = std::vector<uint8_t>;

struct SwapCase {
    const char *types;
    Bytes in;
    Bytes out;
};

TEST(Byteswap, ConvertsFieldByField)
{
    const SwapCase cases[] = {
        {"%d%l", {1, 2, 3, 4, 5, 6}, {2, 1, 6, 5, 4, 3}},
        {"%fd", {0x12, 0x34}, {0x48, 0x2C}},
        {"%b", {0x01}, {0x01}},
        {"%fb", {0x01}, {0x80}},
        {"%fl", {0x01, 0x02, 0x80, 0xFF}, {0x80, 0x40, 0x01, 0xFF}},
        {"%d, %d", {1, 2, 3, 4}, {2, 1, 4, 3}},
        {"", {}, {}},
    };
    BoxRecorder boxes;
    for (const SwapCase &c : cases) {
        Bytes data = c.in;
        EXPECT_EQ(BYTESWAP_Do(c.types, data.data(), static_cast<int32_t>(data.size())), 1) << c.types;
        EXPECT_EQ(data, c.out) << c.types;
        EXPECT_EQ(BYTESWAP_Do(c.types, data.data(), static_cast<int32_t>(data.size())), 1);
        EXPECT_EQ(data, c.in) << "converting twice gives the data back: " << c.types;
    }
    EXPECT_TRUE(boxes.Boxes().empty());
}

TEST(Byteswap, ErrorsAreShownInTheBoxAfterConverting)
{
    BoxRecorder boxes;
    Bytes data = {1, 2, 3, 4};
    EXPECT_EQ(BYTESWAP_Do("%d", data.data(), 4), 0);
    EXPECT_EQ(data, (Bytes{2, 1, 3, 4}));
    EXPECT_EQ(BYTESWAP_Do("%d%x%d", data.data(), 4), 0);
    EXPECT_EQ(data, (Bytes{1, 2, 3, 4})) << "converted up to the bad item";
    EXPECT_EQ(BYTESWAP_Do("%d%", data.data(), 2), 0);
    EXPECT_EQ(BYTESWAP_Do("%f", data.data(), 0), 0);
    EXPECT_EQ(BYTESWAP_Do("", data.data(), 2), 0);
    EXPECT_EQ(BYTESWAP_Do(nullptr, data.data(), 0), 1);
    EXPECT_EQ(BYTESWAP_Do("%d", nullptr, 2), 0) << "no data: nothing converted, nothing written";
    const std::vector<BoxMessage> expected = {
        {"BYTESWAP: Arguments", "BYTESWAP_Do() : Length error (2, 4) "},
        {"BYTESWAP: Arguments", "BYTESWAP_Do() : Invalid type x "},
        {"BYTESWAP: Arguments", "BYTESWAP_Do() : Invalid type "},
        {"BYTESWAP: Arguments", "BYTESWAP_Do() : Invalid type "},
        {"BYTESWAP: Arguments", "BYTESWAP_Do() : Length error (0, 2) "},
        {"BYTESWAP: Arguments", "BYTESWAP_Do() : Length error (0, 2) "},
    };
    EXPECT_EQ(boxes.Boxes(), expected);
}

TEST(Mem, BlocksComeFromTheHeapWhateverTheTag)
{
    EXPECT_EQ(Mem_Init(), 1);
    void *block = Mem_Malloc("SESS", 320);
    ASSERT_NE(block, nullptr);
    Mem_Free("ZIP", block);
    void *local = Mem_Alloc(16);
    ASSERT_NE(local, nullptr);
    Mem_Free("LOCAL", local);
    Mem_Free("LOCAL", nullptr);
    EXPECT_EQ(Mem_PwrDown(), 1);
}

}  // namespace
