// The classic binary-tree LZSS coder (Okumura's 1989 LZSS.C), written plainly: the same
// InitTree, InsertNode, DeleteNode, Encode and Decode, with the byte I/O inline.  It is
// the baseline the codec's speed is measured against and the second opinion its
// streams are checked by.
//
// Encode and Decode take their bytes through two small types, Get() answering the next
// byte or EOF and Put(c) writing one, where the 1989 program calls getc and putc; the
// memory ones below are inline.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <vector>

namespace lzss_reference {

constexpr int N = 4096, F = 18, THRESHOLD = 2, NIL = N;

struct Input {
    const uint8_t *data;
    size_t size;
    size_t pos;
    int Get() { return pos < size ? data[pos++] : EOF; }
};

struct Output {
    uint8_t *data;
    size_t pos;
    void Put(int c) { data[pos++] = static_cast<uint8_t>(c); }
};

struct Coder {
    uint8_t text_buf[N + F - 1];
    int match_position, match_length;
    int lson[N + 1], rson[N + 257], dad[N + 1];

    void InitTree();
    void InsertNode(int r);
    void DeleteNode(int p);
    // The input is the message with the 18 primer spaces in front.
    template <typename In, typename Out>
    void Encode(In &in, Out &out);
    // The output starts with the 18 primer spaces.
    template <typename In, typename Out>
    void Decode(In &in, Out &out);
};

// The stream of a message, primer included.
std::vector<uint8_t> Encode(const std::vector<uint8_t> &message);

}  // namespace lzss_reference
