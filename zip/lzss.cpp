// LZSS encoder trees and the start of both coders.
#include "zip/lzss.h"

#include <cstring>

namespace {

inline int16_t &Right(ZipWork &w, int p) { return w.child[2 * p]; }
inline int16_t &Left(ZipWork &w, int p) { return w.child[2 * p + 1]; }

// Index of the first byte in 1..17 where a and b differ, 18 if none; cmp receives a
// value of the sign of a[i] - b[i] there (0 when none).  Eight bytes are compared at a
// time; the order of the first differing bytes comes from the words read most
// significant byte first, so no byte is loaded twice.
inline int FirstDifference(const uint8_t *a, const uint8_t *b, int &cmp)
{
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    for (int at = 1; at <= 9; at += 8) {
        uint64_t x, y;
        memcpy(&x, a + at, 8);
        memcpy(&y, b + at, 8);
        if (x != y) {
            x = __builtin_bswap64(x);
            y = __builtin_bswap64(y);
            cmp = x > y ? 1 : -1;
            return at + (__builtin_clzll(x ^ y) >> 3);
        }
    }
    cmp = a[17] - b[17];
    return cmp != 0 ? 17 : LZ_LONGEST;
#else
    for (int i = 1; i < LZ_LONGEST; ++i) {
        if ((cmp = a[i] - b[i]) != 0) return i;
    }
    cmp = 0;
    return LZ_LONGEST;
#endif
}

// Eight key bytes as a number whose order is theirs.
inline uint64_t Word(const uint8_t *p)
{
    uint64_t x;
    memcpy(&x, p, 8);
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    x = __builtin_bswap64(x);
#endif
    return x;
}

// Both children of a node in one load: the right one in the low half.
inline uint32_t ChildPair(const ZipWork &w, int p)
{
    uint32_t pair;
    memcpy(&pair, &w.child[2 * p], 4);
    return pair;
}

uint16_t HashKey(const uint8_t *key)
{
    uint64_t a, b;
    uint16_t c;
    memcpy(&a, key, 8);
    memcpy(&b, key + 8, 8);
    memcpy(&c, key + 16, 2);
    uint64_t h = a * 0x9E3779B97F4A7C15ull ^ b * 0xC2B2AE3D27D4EB4Full ^ c * 0x165667B19E3779F9ull;
    return static_cast<uint16_t>((h ^ (h >> 29)) >> (64 - 29 - LZ_HASH_BITS) & ((1u << LZ_HASH_BITS) - 1));
}

inline bool SameKey(const uint8_t *a, const uint8_t *b)
{
    uint64_t a1, b1, a2, b2;
    uint16_t a3, b3;
    memcpy(&a1, a, 8);
    memcpy(&b1, b, 8);
    memcpy(&a2, a + 8, 8);
    memcpy(&b2, b + 8, 8);
    memcpy(&a3, a + 16, 2);
    memcpy(&b3, b + 16, 2);
    return ((a1 ^ b1) | (a2 ^ b2) | static_cast<uint64_t>(a3 ^ b3)) == 0;
}

void HashAdd(ZipWork &w, int p, uint16_t bucket)
{
    uint16_t first = w.hashHead[bucket];
    w.hashBucket[p] = bucket;
    w.hashPrev[p] = 0;
    w.hashNext[p] = first;
    if (first != 0) w.hashPrev[first - 1] = static_cast<uint16_t>(p + 1);
    w.hashHead[bucket] = static_cast<uint16_t>(p + 1);
}

void HashRemove(ZipWork &w, int p)
{
    uint16_t prev = w.hashPrev[p];
    uint16_t next = w.hashNext[p];
    if (prev != 0) {
        w.hashNext[prev - 1] = next;
    } else {
        w.hashHead[w.hashBucket[p]] = next;
    }
    if (next != 0) w.hashPrev[next - 1] = prev;
}

// The node holding exactly this 18-byte string, or -1.
int HashFind(const ZipWork &w, const uint8_t *key, uint16_t bucket)
{
    for (uint16_t e = w.hashHead[bucket]; e != 0; e = w.hashNext[e - 1]) {
        if (SameKey(key, &w.ring[e - 1])) return e - 1;
    }
    return -1;
}

// r takes the place in the tree of p, which holds the same string.
void ReplaceNode(ZipWork &w, int p, int r, uint16_t bucket)
{
    w.parent[r] = w.parent[p];
    Left(w, r) = Left(w, p);
    Right(w, r) = Right(w, p);
    w.parent[Left(w, p)] = static_cast<int16_t>(r);
    w.parent[Right(w, p)] = static_cast<int16_t>(r);
    if (Right(w, w.parent[p]) == p) {
        Right(w, w.parent[p]) = static_cast<int16_t>(r);
    } else {
        Left(w, w.parent[p]) = static_cast<int16_t>(r);
    }
    w.parent[p] = LZ_NIL;
    HashRemove(w, p);
    HashAdd(w, r, bucket);
}

}  // namespace

void LZ_InsertNode(ZipWork &w, int r)
{
    const uint8_t *key = &w.ring[r];
    uint16_t bucket = HashKey(key);
    int same = HashFind(w, key, bucket);
    if (same >= 0) {
        // The walk would end at this node, the only one sharing all 18 bytes.
        w.matchPosition = static_cast<int16_t>(same);
        w.matchLength = LZ_LONGEST;
        ReplaceNode(w, same, r, bucket);
        return;
    }
    int p = LZ_RING + 1 + key[0];
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    Right(w, r) = Left(w, r) = LZ_NIL;
    w.matchLength = 0;
    int cur = Right(w, p);
    if (cur == LZ_NIL) {
        Right(w, p) = static_cast<int16_t>(r);
        w.parent[r] = static_cast<int16_t>(p);
        HashAdd(w, r, bucket);
        return;
    }
    // Each step loads both children's first key words and child pairs before the
    // direction is known, then picks one, so the walk never waits on a mispredicted
    // branch for its next node's data.
    const uint64_t k1 = Word(key + 1);
    const uint64_t k2 = Word(key + 9);
    uint64_t cw = Word(&w.ring[cur + 1]);
    uint64_t cw2 = Word(&w.ring[cur + 9]);
    uint32_t pair = ChildPair(w, cur);
    int length = 0;
    int position = 0;
    for (;;) {
        int cr = static_cast<int>(pair & 0xFFFF);
        int cl = static_cast<int>(pair >> 16);
        uint64_t wr = Word(&w.ring[cr + 1]);
        uint64_t wl = Word(&w.ring[cl + 1]);
        uint64_t wr2 = Word(&w.ring[cr + 9]);
        uint64_t wl2 = Word(&w.ring[cl + 9]);
        uint32_t pr = ChildPair(w, cr);
        uint32_t pl = ChildPair(w, cl);
        // The first differing word of bytes 1-8 or 9-16, chosen by mask.
        uint64_t firstSame = 0ull - static_cast<uint64_t>(cw == k1);
        uint64_t x = cw ^ ((cw ^ cw2) & firstSame);
        uint64_t y = k1 ^ ((k1 ^ k2) & firstSame);
        int lcp;
        bool left;
        if (x != y) {
            lcp = 1 + static_cast<int>(firstSame & 8) + (__builtin_clzll(x ^ y) >> 3);
            left = y < x;
        } else {
            left = key[17] < w.ring[cur + 17];
            lcp = key[17] != w.ring[cur + 17] ? 17 : LZ_LONGEST;
            if (lcp >= LZ_LONGEST) {
                w.matchPosition = static_cast<int16_t>(cur);
                w.matchLength = LZ_LONGEST;
                ReplaceNode(w, cur, r, bucket);  // an equal string the index did not know
                return;
            }
        }
        // Selections by mask, so that no branch depends on the comparison.
        int better = -static_cast<int>(lcp > length);
        length ^= (length ^ lcp) & better;
        position ^= (position ^ cur) & better;
        uint32_t m32 = 0u - static_cast<uint32_t>(left);
        uint64_t m64 = 0ull - static_cast<uint64_t>(left);
        int next = static_cast<int>(static_cast<uint32_t>(cr) ^ ((static_cast<uint32_t>(cr ^ cl)) & m32));
        if (next == LZ_NIL) {
            w.child[2 * cur + (left ? 1 : 0)] = static_cast<int16_t>(r);
            w.parent[r] = static_cast<int16_t>(cur);
            HashAdd(w, r, bucket);
            w.matchPosition = static_cast<int16_t>(position);
            w.matchLength = static_cast<int16_t>(length);
            return;
        }
        cur = next;
        cw = wr ^ ((wr ^ wl) & m64);
        cw2 = wr2 ^ ((wr2 ^ wl2) & m64);
        pair = pr ^ ((pr ^ pl) & m32);
    }
#else
    int cmp = 1;
    Right(w, r) = Left(w, r) = LZ_NIL;
    w.matchLength = 0;
    for (;;) {
        int16_t &link = cmp >= 0 ? Right(w, p) : Left(w, p);
        if (link == LZ_NIL) {
            link = static_cast<int16_t>(r);
            w.parent[r] = static_cast<int16_t>(p);
            HashAdd(w, r, bucket);
            return;
        }
        p = link;
        int i = FirstDifference(key, &w.ring[p], cmp);
        if (i > w.matchLength) {
            w.matchPosition = static_cast<int16_t>(p);
            w.matchLength = static_cast<int16_t>(i);
            if (i >= LZ_LONGEST) break;
        }
    }
    ReplaceNode(w, p, r, bucket);  // an equal string the index did not know
#endif
}

void LZ_DeleteNode(ZipWork &w, int p)
{
    if (w.parent[p] == LZ_NIL) return;
    HashRemove(w, p);
    int q;
    if (Right(w, p) == LZ_NIL) {
        q = Left(w, p);
    } else if (Left(w, p) == LZ_NIL) {
        q = Right(w, p);
    } else {
        q = Left(w, p);
        if (Right(w, q) != LZ_NIL) {
            do {
                q = Right(w, q);
            } while (Right(w, q) != LZ_NIL);
            Right(w, w.parent[q]) = Left(w, q);
            w.parent[Left(w, q)] = w.parent[q];
            Left(w, q) = Left(w, p);
            w.parent[Left(w, p)] = static_cast<int16_t>(q);
        }
        Right(w, q) = Right(w, p);
        w.parent[Right(w, p)] = static_cast<int16_t>(q);
    }
    w.parent[q] = w.parent[p];
    if (Right(w, w.parent[p]) == p) {
        Right(w, w.parent[p]) = static_cast<int16_t>(q);
    } else {
        Left(w, w.parent[p]) = static_cast<int16_t>(q);
    }
    w.parent[p] = LZ_NIL;
}

void ZIP_EncodeStart(ZipWork &w)
{
    w.entered = 0;
    for (int i = LZ_RING + 1; i <= LZ_RING + 256; ++i) Right(w, i) = LZ_NIL;
    for (int i = 0; i < LZ_RING; ++i) w.parent[i] = LZ_NIL;
    w.group[0] = 0;
    w.mask = 1;
    w.groupFill = 1;
    w.s = 0;
    w.r = LZ_START;
    memset(w.ring, LZ_FILL, LZ_START);
    for (int i = 0; i < LZ_PRIMER; ++i) {
        w.ring[LZ_START + i] = LZ_FILL;
        ++w.entered;
        ++w.lookahead;
    }
    for (int i = 1; i <= LZ_LONGEST; ++i) LZ_InsertNode(w, w.r - i);
    LZ_InsertNode(w, w.r);
}

void ZIP_DecodeStart(UnzipWork &w)
{
    memset(w.ring, LZ_FILL, LZ_START);
    w.r = LZ_START;
    w.flags = 0;
    w.resumeState = 0;
}
