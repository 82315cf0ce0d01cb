// The classic tree coder, line for line in the 1989 program's shape.
#include "support/lzss_reference.h"

#include <algorithm>
#include <cstring>
#include <memory>

namespace lzss_reference {

void Coder::InitTree()
{
    for (int i = N + 1; i <= N + 256; i++) rson[i] = NIL;
    for (int i = 0; i < N; i++) dad[i] = NIL;
}

void Coder::InsertNode(int r)
{
    int i, p, cmp = 1;
    uint8_t *key = &text_buf[r];
    p = N + 1 + key[0];
    rson[r] = lson[r] = NIL;
    match_length = 0;
    for (;;) {
        if (cmp >= 0) {
            if (rson[p] != NIL) {
                p = rson[p];
            } else {
                rson[p] = r;
                dad[r] = p;
                return;
            }
        } else {
            if (lson[p] != NIL) {
                p = lson[p];
            } else {
                lson[p] = r;
                dad[r] = p;
                return;
            }
        }
        for (i = 1; i < F; i++)
            if ((cmp = key[i] - text_buf[p + i]) != 0) break;
        if (i > match_length) {
            match_position = p;
            if ((match_length = i) >= F) break;
        }
    }
    dad[r] = dad[p];
    lson[r] = lson[p];
    rson[r] = rson[p];
    dad[lson[p]] = r;
    dad[rson[p]] = r;
    if (rson[dad[p]] == p) {
        rson[dad[p]] = r;
    } else {
        lson[dad[p]] = r;
    }
    dad[p] = NIL;
}

void Coder::DeleteNode(int p)
{
    int q;
    if (dad[p] == NIL) return;
    if (rson[p] == NIL) {
        q = lson[p];
    } else if (lson[p] == NIL) {
        q = rson[p];
    } else {
        q = lson[p];
        if (rson[q] != NIL) {
            do {
                q = rson[q];
            } while (rson[q] != NIL);
            rson[dad[q]] = lson[q];
            dad[lson[q]] = dad[q];
            lson[q] = lson[p];
            dad[lson[p]] = q;
        }
        rson[q] = rson[p];
        dad[rson[p]] = q;
    }
    dad[q] = dad[p];
    if (rson[dad[p]] == p) {
        rson[dad[p]] = q;
    } else {
        lson[dad[p]] = q;
    }
    dad[p] = NIL;
}

template <typename In, typename Out>
void Coder::Encode(In &in, Out &out)
{
    int i, c, len, r, s, last_match_length, code_buf_ptr;
    uint8_t code_buf[17], mask;
    memset(text_buf + N, 0, F - 1);  // the 1989 program's buffer starts zeroed, once
    InitTree();
    code_buf[0] = 0;
    code_buf_ptr = mask = 1;
    s = 0;
    r = N - F;
    for (i = s; i < r; i++) text_buf[i] = ' ';
    for (len = 0; len < F && (c = in.Get()) != EOF; len++) text_buf[r + len] = static_cast<uint8_t>(c);
    if (len == 0) return;
    for (i = 1; i <= F; i++) InsertNode(r - i);
    InsertNode(r);
    do {
        if (match_length > len) match_length = len;
        if (match_length <= THRESHOLD) {
            match_length = 1;
            code_buf[0] |= mask;
            code_buf[code_buf_ptr++] = text_buf[r];
        } else {
            code_buf[code_buf_ptr++] = static_cast<uint8_t>(match_position);
            code_buf[code_buf_ptr++] =
                static_cast<uint8_t>(((match_position >> 4) & 0xf0) | (match_length - (THRESHOLD + 1)));
        }
        if ((mask = static_cast<uint8_t>(mask << 1)) == 0) {
            for (i = 0; i < code_buf_ptr; i++) out.Put(code_buf[i]);
            code_buf[0] = 0;
            code_buf_ptr = mask = 1;
        }
        last_match_length = match_length;
        for (i = 0; i < last_match_length && (c = in.Get()) != EOF; i++) {
            DeleteNode(s);
            text_buf[s] = static_cast<uint8_t>(c);
            if (s < F - 1) text_buf[s + N] = static_cast<uint8_t>(c);
            s = (s + 1) & (N - 1);
            r = (r + 1) & (N - 1);
            InsertNode(r);
        }
        while (i++ < last_match_length) {
            DeleteNode(s);
            s = (s + 1) & (N - 1);
            r = (r + 1) & (N - 1);
            if (--len) InsertNode(r);
        }
    } while (len > 0);
    if (code_buf_ptr > 1)
        for (i = 0; i < code_buf_ptr; i++) out.Put(code_buf[i]);
}

template <typename In, typename Out>
void Coder::Decode(In &in, Out &out)
{
    int i, j, k, r, c;
    unsigned int flags;
    for (i = 0; i < N - F; i++) text_buf[i] = ' ';
    r = N - F;
    flags = 0;
    for (;;) {
        if (((flags >>= 1) & 256) == 0) {
            if ((c = in.Get()) == EOF) break;
            flags = static_cast<unsigned>(c) | 0xff00;
        }
        if (flags & 1) {
            if ((c = in.Get()) == EOF) break;
            out.Put(c);
            text_buf[r++] = static_cast<uint8_t>(c);
            r &= (N - 1);
        } else {
            if ((i = in.Get()) == EOF) break;
            if ((j = in.Get()) == EOF) break;
            i |= ((j & 0xf0) << 4);
            j = (j & 0x0f) + THRESHOLD;
            for (k = 0; k <= j; k++) {
                c = text_buf[(i + k) & (N - 1)];
                out.Put(c);
                text_buf[r++] = static_cast<uint8_t>(c);
                r &= (N - 1);
            }
        }
    }
}

template void Coder::Encode(Input &, Output &);
template void Coder::Decode(Input &, Output &);

std::vector<uint8_t> Encode(const std::vector<uint8_t> &message)
{
    // The message fills the tail of the input: offsets counted from the end stay
    // within the vector whatever its size.
    std::vector<uint8_t> input(message.size() + F);
    std::fill_n(input.begin(), F, ' ');
    std::copy(message.begin(), message.end(), input.end() - static_cast<std::ptrdiff_t>(message.size()));
    std::vector<uint8_t> out(2 * input.size() + 16);
    auto coder = std::make_unique<Coder>();
    Input in{input.data(), input.size(), 0};
    Output o{out.data(), 0};
    coder->Encode(in, o);
    out.resize(o.pos);
    return out;
}

}  // namespace lzss_reference
