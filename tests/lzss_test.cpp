// The LZSS codec against the independent test vectors and the stream rules.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <random>
#include <string>

#include "support/lzss_memory.h"
#include "support/lzss_reference.h"

#ifndef VARNEK_VECTORS_DIR
#error "VARNEK_VECTORS_DIR must name the folder of the LZSS vectors"
#endif

namespace {

Bytes ReadFile(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::vector<std::string> VectorNames()
{
    std::vector<std::string> names;
    std::ifstream manifest(std::string(VARNEK_VECTORS_DIR) + "/manifest.tsv");
    std::string line;
    std::getline(manifest, line);  // header
    while (std::getline(manifest, line)) {
        std::string name = line.substr(0, line.find('\t'));
        if (std::ifstream(std::string(VARNEK_VECTORS_DIR) + "/" + name + ".msg").good()) names.push_back(name);
    }
    return names;
}

TEST(LzssVectors, EveryMessageCodesToItsStreamInAnyPiecesAndBack)
{
    if (!std::ifstream(std::string(VARNEK_VECTORS_DIR) + "/manifest.tsv").good()) {
        if (getenv("VARNEK_REQUIRE_VECTORS") != nullptr) FAIL() << "no test vectors in " << VARNEK_VECTORS_DIR;
        GTEST_SKIP() << "no test vectors in " << VARNEK_VECTORS_DIR << " (set VARNEK_VECTORS_DIR when configuring)";
    }
    std::vector<std::string> names = VectorNames();
    ASSERT_GE(names.size(), 25u);
    for (const std::string &name : names) {
        std::string base = std::string(VARNEK_VECTORS_DIR) + "/" + name;
        Bytes message = ReadFile(base + ".msg");
        Bytes stream = ReadFile(base + ".lzss");
        for (size_t piece : {size_t(0), size_t(1), size_t(17), size_t(18), size_t(19), size_t(255)}) {
            EXPECT_EQ(LzssEncode(message, piece), stream) << name << " in pieces of " << piece;
        }
        for (size_t piece : {size_t(0), size_t(1), size_t(7), size_t(300)}) {
            EXPECT_EQ(LzssDecode(stream, piece), message) << name << " read in pieces of " << piece;
        }
        EXPECT_EQ(LzssDecode(stream, 5, 3), message) << name << " with code bytes arriving 3 at a time";
    }
}

TEST(LzssStream, ClassicExamples)
{
    EXPECT_EQ(LzssEncode(Bytes(20, 0x61)), (Bytes{0x0A, 0xDC, 0xFF, 0x61, 0x00, 0x0F, 0x61}));
    EXPECT_EQ(LzssEncode(Bytes(21, 0x61)), (Bytes{0x1A, 0xDC, 0xFF, 0x61, 0x00, 0x0F, 0x61, 0x61}));
    EXPECT_EQ(LzssEncode(Bytes(91, 0x61)),
              (Bytes{0x02, 0xDC, 0xFF, 0x61, 0x00, 0x0F, 0x12, 0x0F, 0x24, 0x0F, 0x36, 0x0F, 0x48, 0x0F}));
    EXPECT_EQ(LzssEncode(Bytes(40, 0x20)), (Bytes{0x00, 0xDC, 0xFF, 0xFF, 0xFF, 0x11, 0x0F, 0x23, 0x01}));
    EXPECT_EQ(LzssEncode(Bytes{}), (Bytes{0x00, 0xDC, 0xFF}));
}

// Kinds of message the vectors reach little of: runs of one byte, a record repeated with
// small changes and shifts, a block repeated at about the ring's length, words, noise
// of four values (deep trees, many strings equal but for their last bytes), one byte.
Bytes MakeMessage(int kind, size_t n, std::mt19937 &rng)
{
    Bytes m;
    Bytes block(4070 + rng() % 20);
    for (uint8_t &b : block) b = static_cast<uint8_t>(rng());
    static const char *words[] = {"amount ", "card ", "centre ", "station ", "the "};
    while (m.size() < n) {
        switch (kind) {
        case 0: m.insert(m.end(), 1 + rng() % 300, static_cast<uint8_t>('A' + rng() % 4)); break;
        case 1: {
            Bytes record(71, 0x30);
            record[3] = static_cast<uint8_t>(rng() % 3);
            record[40] = static_cast<uint8_t>(rng() % 2);
            m.insert(m.end(), record.begin(), record.end());
            if (rng() % 8 == 0) m.push_back(static_cast<uint8_t>(rng()));
            break;
        }
        case 2: m.insert(m.end(), block.begin(), block.end()); break;
        case 3: {
            const char *word = words[rng() % 5];
            m.insert(m.end(), word, word + strlen(word));
            break;
        }
        case 4: m.push_back(static_cast<uint8_t>(rng() % 4)); break;
        default: m.push_back(0x20); break;
        }
    }
    m.resize(n);
    return m;
}

TEST(LzssStream, LongAndRepetitiveMessagesCodeAsThePlainCoderDoes)
{
    std::mt19937 rng(4096);
    for (int kind = 0; kind < 6; ++kind) {
        for (size_t n : {size_t(4077), size_t(4078), size_t(4096), size_t(9000), size_t(40000)}) {
            Bytes message = MakeMessage(kind, n, rng);
            Bytes stream = lzss_reference::Encode(message);
            EXPECT_EQ(LzssEncode(message), stream) << "kind " << kind << ", " << n << " bytes";
            EXPECT_EQ(LzssEncode(message, 97), stream) << "kind " << kind << ", " << n << " bytes in pieces of 97";
            EXPECT_EQ(LzssDecode(stream), message) << "kind " << kind << ", " << n << " bytes";
            EXPECT_EQ(LzssDecode(stream, 1000, 300), message) << "kind " << kind << ", " << n << " bytes in parts";
        }
    }
}

// Any bytes are a stream: matches that reach into bytes not yet written, wrap the ring
// or overlap their own output decode as the plain decoder has them, read whole or in
// parts.
TEST(LzssStream, AnyCodeBytesDecodeAsThePlainDecoderDoes)
{
    std::mt19937 rng(1989);
    auto coder = std::make_unique<lzss_reference::Coder>();
    for (int i = 0; i < 40; ++i) {
        Bytes stream(3000);
        for (uint8_t &b : stream) b = static_cast<uint8_t>(i % 2 ? rng() : rng() % 4 * 0x55);
        *coder = lzss_reference::Coder{};
        Bytes plain(stream.size() * 9 + 64);
        lzss_reference::Input in{stream.data(), stream.size(), 0};
        lzss_reference::Output out{plain.data(), 0};
        coder->Decode(in, out);
        Bytes expected(plain.begin() + LZ_PRIMER, plain.begin() + static_cast<long>(out.pos));
        EXPECT_EQ(LzssDecode(stream), expected) << "stream " << i;
        EXPECT_EQ(LzssDecode(stream, 777, 100), expected) << "stream " << i << " in parts";
    }
}

}  // namespace
