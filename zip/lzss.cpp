// LZSS encoder trees and the start of both coders.
#include "zip/lzss.h"

#include <cstring>

namespace {

// Index of the first byte in 1..17 where ring[a + i] and ring[b + i] differ, 18 if none;
// cmp receives their difference there.  Eight bytes are compared at a time.
inline int FirstDifference(const uint8_t *a, const uint8_t *b, int &cmp)
{
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    for (int i = 1; i <= 9; i += 8) {
        uint64_t x, y;
        memcpy(&x, a + i, 8);
        memcpy(&y, b + i, 8);
        if (x != y) {
            int k = i + __builtin_ctzll(x ^ y) / 8;
            cmp = a[k] - b[k];
            return k;
        }
    }
    cmp = a[17] - b[17];
    return cmp != 0 ? 17 : LZ_LONGEST;
#else
    for (int i = 1; i < LZ_LONGEST; ++i) {
        if ((cmp = a[i] - b[i]) != 0) return i;
    }
    return LZ_LONGEST;
#endif
}

}  // namespace

void LZ_InsertNode(ZipWork &w, int r)
{
    const uint8_t *key = &w.ring[r];
    int p = LZ_RING + 1 + key[0];
    int cmp = 1;
    w.right[r] = w.left[r] = LZ_NIL;
    w.matchLength = 0;
    for (;;) {
        if (cmp >= 0) {
            if (w.right[p] == LZ_NIL) {
                w.right[p] = static_cast<int16_t>(r);
                w.parent[r] = static_cast<int16_t>(p);
                return;
            }
            p = w.right[p];
        } else {
            if (w.left[p] == LZ_NIL) {
                w.left[p] = static_cast<int16_t>(r);
                w.parent[r] = static_cast<int16_t>(p);
                return;
            }
            p = w.left[p];
        }
        int i = FirstDifference(key, &w.ring[p], cmp);
        if (i > w.matchLength) {
            w.matchPosition = static_cast<int16_t>(p);
            w.matchLength = static_cast<int16_t>(i);
            if (i >= LZ_LONGEST) break;
        }
    }
    // An equal string: r takes the place of the older node p.
    w.parent[r] = w.parent[p];
    w.left[r] = w.left[p];
    w.right[r] = w.right[p];
    w.parent[w.left[p]] = static_cast<int16_t>(r);
    w.parent[w.right[p]] = static_cast<int16_t>(r);
    if (w.right[w.parent[p]] == p) {
        w.right[w.parent[p]] = static_cast<int16_t>(r);
    } else {
        w.left[w.parent[p]] = static_cast<int16_t>(r);
    }
    w.parent[p] = LZ_NIL;
}

void LZ_DeleteNode(ZipWork &w, int p)
{
    if (w.parent[p] == LZ_NIL) return;
    int q;
    if (w.right[p] == LZ_NIL) {
        q = w.left[p];
    } else if (w.left[p] == LZ_NIL) {
        q = w.right[p];
    } else {
        q = w.left[p];
        if (w.right[q] != LZ_NIL) {
            do {
                q = w.right[q];
            } while (w.right[q] != LZ_NIL);
            w.right[w.parent[q]] = w.left[q];
            w.parent[w.left[q]] = w.parent[q];
            w.left[q] = w.left[p];
            w.parent[w.left[p]] = static_cast<int16_t>(q);
        }
        w.right[q] = w.right[p];
        w.parent[w.right[p]] = static_cast<int16_t>(q);
    }
    w.parent[q] = w.parent[p];
    if (w.right[w.parent[p]] == p) {
        w.right[w.parent[p]] = static_cast<int16_t>(q);
    } else {
        w.left[w.parent[p]] = static_cast<int16_t>(q);
    }
    w.parent[p] = LZ_NIL;
}

void ZIP_EncodeStart(ZipWork &w)
{
    w.entered = 0;
    for (int i = LZ_RING + 1; i <= LZ_RING + 256; ++i) w.right[i] = LZ_NIL;
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
