// A plain LZSS coder written the simple way: one call per input byte and per output
// byte, the whole message at once, no incremental machinery.  It is the baseline the
// codec's speed is measured against and the second opinion its streams are checked by.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace lzss_reference {

constexpr int N = 4096, F = 18, THRESHOLD = 2, NIL = N;

struct Input {
    const uint8_t *data;
    size_t size;
    size_t pos;
};

struct Output {
    uint8_t *data;
    size_t pos;
};

struct Coder {
    uint8_t text_buf[N + F - 1];
    int match_position, match_length;
    int lson[N + 1], rson[N + 257], dad[N + 1];

    void InitTree();
    void InsertNode(int r);
    void DeleteNode(int p);
    // The input is the message with the 18 primer spaces in front.
    void Encode(Input &in, Output &out);
    // The output starts with the 18 primer spaces.
    void Decode(Input &in, Output &out);
};

// The stream of a message, primer included.
std::vector<uint8_t> Encode(const std::vector<uint8_t> &message);

}  // namespace lzss_reference
