// LZSS encoder trees and the start of both coders.
#include "zip/lzss.h"

#include <cstddef>
#include <cstring>

namespace {

inline int Right(const ZipWork &w, int p) { return w.node[p].child[0]; }
inline int Left(const ZipWork &w, int p) { return w.node[p].child[1]; }
inline void SetChild(ZipWork &w, int p, int side, int q) { w.node[p].child[side] = static_cast<uint16_t>(q); }
inline void SetRight(ZipWork &w, int p, int q) { SetChild(w, p, 0, q); }
inline void SetLeft(ZipWork &w, int p, int q) { SetChild(w, p, 1, q); }
// Both children of p at once.
inline void SetPair(ZipWork &w, int p, uint32_t pair) { memcpy(&w.node[p], &pair, 4); }
inline int16_t &Parent(ZipWork &w, int p) { return w.parent[p]; }
inline int Next(int p) { return (p + 1) & (LZ_RING - 1); }

// Eight key bytes as they lie in memory, and as a number whose order is theirs.
inline uint64_t Raw(const uint8_t *p)
{
    uint64_t x;
    memcpy(&x, p, 8);
    return x;
}
inline uint64_t InOrder(uint64_t raw)
{
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    raw = __builtin_bswap64(raw);
#endif
    return raw;
}
inline uint64_t Word(const uint8_t *p) { return InOrder(Raw(p)); }

// Number of leading bytes two different words share, counted from `first`.
inline int Shared(uint64_t a, uint64_t b, int first)
{
    return first + 7 - ((63 ^ __builtin_clzll(a ^ b)) >> 3);
}

// Whether the 18-byte strings at a and b are equal.  The last two bytes are read one by
// one: the new string's last byte was stored a moment ago, and a wider load over a byte
// store still on its way to the cache waits until the store gets there.
inline bool SameKey(const uint8_t *a, const uint8_t *b)
{
    uint64_t a1, b1, a2, b2;
    memcpy(&a1, a, 8);
    memcpy(&b1, b, 8);
    memcpy(&a2, a + 8, 8);
    memcpy(&b2, b + 8, 8);
    const unsigned tail = static_cast<unsigned>(a[16] ^ b[16]) | static_cast<unsigned>(a[17] ^ b[17]);
    return ((a1 ^ b1) | (a2 ^ b2) | tail) == 0;
}

// r takes the place in the tree of p, which holds the same string: a walk for r would
// end at p, the only node sharing all 18 bytes.
void ReplaceNode(ZipWork &w, int p, int r)
{
    Parent(w, r) = Parent(w, p);
    SetLeft(w, r, Left(w, p));
    SetRight(w, r, Right(w, p));
    Parent(w, Left(w, p)) = static_cast<int16_t>(r);
    Parent(w, Right(w, p)) = static_cast<int16_t>(r);
    const int up = Parent(w, p);
    SetChild(w, up, Right(w, up) != p, r);
    Parent(w, p) = LZ_NIL;
}

// Replaces the right child's node, raw first key word and child pair by the left
// child's when the key `a` orders before the node's `b`.  The direction of a walk step
// is a coin toss to a branch predictor, so this must not be a branch; on x86-64 the
// comparison feeds three conditional moves straight from its flags, two of which read
// the left child's word and pair themselves, elsewhere masks.
inline void PickLeft(uint64_t a, uint64_t b, uint64_t &node, uint64_t &raw1, uint32_t &pair, uint64_t leftNode,
                     const uint8_t *leftRaw1, const uint8_t *leftPair)
{
#if defined(__x86_64__)
    typedef uint64_t __attribute__((may_alias, aligned(1))) Raw64;
    typedef uint32_t __attribute__((may_alias, aligned(1))) Raw32;
    __asm__("cmp %[b], %[a]\n\t"
            "cmovb %[leftNode], %[node]\n\t"
            "cmovb %[leftRaw1], %[raw1]\n\t"
            "cmovb %[leftPair], %[pair]"
            : [node] "+r"(node), [raw1] "+r"(raw1), [pair] "+r"(pair)
            : [a] "r"(a), [b] "r"(b), [leftNode] "r"(leftNode),
              [leftRaw1] "m"(*reinterpret_cast<const Raw64 *>(leftRaw1)),
              [leftPair] "m"(*reinterpret_cast<const Raw32 *>(leftPair))
            : "cc");
#else
    uint32_t pl;
    memcpy(&pl, leftPair, 4);
    const uint64_t less = 0ull - static_cast<uint64_t>(a < b);
    node ^= (node ^ leftNode) & less;
    raw1 ^= (raw1 ^ Raw(leftRaw1)) & less;
    pair ^= (pair ^ pl) & static_cast<uint32_t>(less);
#endif
}

// Whether a string's bytes 1-16 (k) order before a node's (c1:c2).
inline bool Before(const uint64_t (&k)[2], uint64_t c1, uint64_t c2) { return k[0] < c1 || (k[0] == c1 && k[1] < c2); }

// Takes the left child's node, key words and child pair in place of the right child's
// when the key's bytes 1-16 (k) order before the node's (c1:c2), and otherwise makes
// the node the last one the walk turned right at.  One borrow chain orders the 16
// bytes, so no branch asks whether bytes 1-8 were equal.
inline void Turn(const uint64_t (&k)[2], uint64_t c1, uint64_t c2, uint64_t cur, uint64_t &node, uint64_t &w1,
                 uint64_t &w2, uint64_t &pair, uint64_t &lastRight, uint64_t leftNode, uint64_t leftW1,
                 uint64_t leftW2, uint64_t leftPair)
{
#if defined(__x86_64__)
    uint64_t t;
    __asm__("mov %[k1], %[t]\n\t"
            "cmp %[c2], %[k2]\n\t"
            "sbb %[c1], %[t]\n\t"
            "cmovb %[leftNode], %[node]\n\t"
            "cmovb %[leftW1], %[w1]\n\t"
            "cmovb %[leftW2], %[w2]\n\t"
            "cmovb %[leftPair], %[pair]\n\t"
            "cmovae %[cur], %[lastRight]"
            : [t] "=&r"(t), [node] "+r"(node), [w1] "+r"(w1), [w2] "+r"(w2), [pair] "+r"(pair),
              [lastRight] "+r"(lastRight)
            : [k1] "m"(k[0]), [k2] "m"(k[1]), [c2] "r"(c2), [c1] "r"(c1), [cur] "rm"(cur), [leftNode] "r"(leftNode),
              [leftW1] "r"(leftW1), [leftW2] "r"(leftW2), [leftPair] "r"(leftPair)
            : "cc");
#else
    const uint64_t less = 0ull - static_cast<uint64_t>(Before(k, c1, c2));
    node ^= (node ^ leftNode) & less;
    w1 ^= (w1 ^ leftW1) & less;
    w2 ^= (w2 ^ leftW2) & less;
    pair ^= (pair ^ leftPair) & less;
    lastRight ^= (lastRight ^ cur) & ~less;
#endif
}

// A walk that only looks for where its string goes (EnterTwo): the node it stands on,
// that node's key words and child pair, and the last node it turned right at.
struct Walker {
    uint64_t key[2];  // bytes 1-16 of the string, in order as numbers
    uint64_t at;
    uint64_t c1, c2;
    uint64_t lastRight;
    uint32_t pair;
};

// One step down: false when the walk ends at x.at, which then takes the string as a child.
inline bool Step(const uint8_t *ring, const uint8_t *pairs, Walker &x)
{
    uint64_t next = x.pair & 0xFFFF;
    const uint64_t left = x.pair >> 16;
    uint64_t n1 = Word(ring + 1 + next), n2 = Word(ring + 9 + next);
    const uint64_t l1 = Word(ring + 1 + left), l2 = Word(ring + 9 + left);
    uint32_t pr, pl;
    memcpy(&pr, pairs + 4 * next, 4);
    memcpy(&pl, pairs + 4 * left, 4);
    uint64_t nextPair = pr;
    Turn(x.key, x.c1, x.c2, x.at, next, n1, n2, nextPair, x.lastRight, left, l1, l2, pl);
    if (next == LZ_NIL) return false;
    x.at = next;
    x.c1 = n1;
    x.c2 = n2;
    x.pair = static_cast<uint32_t>(nextPair);
    return true;
}

// A walk that finds the longest match of the string at r while it looks for where r
// goes (Insert, InsertTwo).
struct Search {
    uint64_t k1;      // bytes 1-8 of the string, in order as a number
    int r;
    int at;         // the node the walk stands on
    uint64_t c1;    // its bytes 1-8
    uint32_t pair;  // its child pair
    // The best node so far, first on the walk among those sharing the most bytes with
    // the string: its index in bits 0-15, 24 less the bytes shared above.  One
    // comparison then both ranks a node and keeps the first of equals.
    uint32_t best;
};

// What a node sharing `shared` bytes is compared with: it ranks better than `best`
// exactly when this is less.
inline uint32_t Rank(int shared) { return static_cast<uint32_t>(24 - shared) << 16 | 0xFFFF; }
// The same from two different words of bytes 1-8, from the highest bit they differ in.
inline uint32_t RankOfWords(uint64_t a, uint64_t b)
{
    return static_cast<uint32_t>(63 ^ __builtin_clzll(a ^ b)) << 13 | 0x10FFFF;
}
inline uint32_t Best(uint32_t rank, int node) { return rank - 0xFFFF + static_cast<uint32_t>(node); }
inline int BestShared(uint32_t best) { return 24 - static_cast<int>(best >> 16); }
inline int BestNode(uint32_t best) { return static_cast<int>(best & 0xFFFF); }

}  // namespace

// Starts a search for the string at r; false when its tree is empty, and r then is
// the tree's only node, with no match.
static inline __attribute__((always_inline)) bool StartSearch(ZipWork &w, int r, Search &x)
{
    const uint8_t *key = &w.ring[r];
    const int root = LZ_RING + 1 + key[0];
    SetPair(w, r, LZ_NIL | LZ_NIL << 16);
    x.r = r;
    x.best = Best(Rank(0), 0);
    x.k1 = Word(key + 1);
    x.at = Right(w, root);
    if (x.at == LZ_NIL) {
        SetRight(w, root, r);
        Parent(w, r) = static_cast<int16_t>(root);
        return false;
    }
    x.c1 = Word(w.ring + 1 + x.at);
    memcpy(&x.pair, &w.node[x.at], 4);
    return true;
}

// One step of a search: false when it has ended, with r linked as a child of the last
// node or in the place of an equal string.
//
// The step is the hot loop of the encoder.  It loads both children's child pairs and
// first key words (bytes 1-8, read from the ring: a node's string stays there
// unchanged while it is in a tree) before the direction is known and then picks one,
// so no branch depends on the order of two strings and no load waits for a decision.
// Bytes 9-16 are loaded only when bytes 1-8 are equal: carrying them for both children
// costs more registers than the rare wait saves.  Byte 17 is looked at only when bytes
// 1-16 are equal.
static inline __attribute__((always_inline)) bool Probe(ZipWork &w, Search &x)
{
    // Offsets from these bases keep every load of the walk a single instruction.
    const uint8_t *word1 = w.ring + 1;
    const uint8_t *pairs = reinterpret_cast<const uint8_t *>(w.node);
    const int cur = x.at;
    const uint32_t cr = x.pair & 0xFFFF;
    const uint32_t cl = x.pair >> 16;
    uint64_t chosen1 = Raw(word1 + cr);
    uint32_t nextPair;
    memcpy(&nextPair, pairs + sizeof(LzNode) * cr, 4);
    // Bytes 1-8 decide unless they are equal; then bytes 9-16, then byte 17.
    uint64_t a = x.k1, b = x.c1;
    uint32_t rank;
    if (__builtin_expect(a != b, 1)) {
        rank = RankOfWords(a, b);
    } else if ((a = Word(w.ring + 9 + x.r)) != (b = Word(w.ring + 9 + cur))) {
        rank = Rank(Shared(a, b, 9));
    } else if (w.ring[x.r + 17] != w.ring[cur + 17]) {
        rank = Rank(17);
        a = w.ring[x.r + 17];
        b = w.ring[cur + 17];
    } else {
        ReplaceNode(w, cur, x.r);
        x.best = Best(Rank(LZ_LONGEST), cur);
        return false;
    }
    x.best = rank < x.best ? Best(rank, cur) : x.best;
    uint64_t next = cr;
    PickLeft(a, b, next, chosen1, nextPair, cl, word1 + cl, pairs + sizeof(LzNode) * cl);
    if (next == static_cast<uint32_t>(LZ_NIL)) {
        SetChild(w, cur, a < b ? 1 : 0, x.r);
        Parent(w, x.r) = static_cast<int16_t>(cur);
        return false;
    }
    x.at = static_cast<int>(next);
    x.c1 = InOrder(chosen1);
    x.pair = nextPair;
    return true;
}

// Makes a search's match the one the encoder codes next.
static inline void Found(ZipWork &w, const Search &x)
{
    const int length = BestShared(x.best);
    w.matchPosition = static_cast<int16_t>(BestNode(x.best));
    w.matchLength = static_cast<int16_t>(length);
    w.lastFull = static_cast<int16_t>(length == LZ_LONGEST ? BestNode(x.best) : -1);
}

// Finds the longest match for the string at r among the strings before it and links r
// into their tree.  The match is the first node on the walk from the root with the most
// bytes in common; an equal string's node is replaced by r.
static inline __attribute__((always_inline)) void Insert(ZipWork &w, int r)
{
    const int last = w.lastFull;
    if (last >= 0) {
        const int after = (last + 1) & (LZ_RING - 1);
        if (Parent(w, after) != LZ_NIL && SameKey(&w.ring[r], &w.ring[after])) {
            ReplaceNode(w, after, r);
            w.matchPosition = static_cast<int16_t>(after);
            w.matchLength = LZ_LONGEST;
            w.lastFull = static_cast<int16_t>(after);
            return;
        }
    }
    Search x;
    if (StartSearch(w, r, x)) {
        while (Probe(w, x)) {
        }
    }
    Found(w, x);
}

// Unlinks p from its tree.
static inline __attribute__((always_inline)) void Delete(ZipWork &w, int p)
{
    if (Parent(w, p) == LZ_NIL) return;
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
            SetRight(w, Parent(w, q), Left(w, q));
            Parent(w, Left(w, q)) = Parent(w, q);
            SetLeft(w, q, Left(w, p));
            Parent(w, Left(w, p)) = static_cast<int16_t>(q);
        }
        SetRight(w, q, Right(w, p));
        Parent(w, Right(w, p)) = static_cast<int16_t>(q);
    }
    const int up = Parent(w, p);
    Parent(w, q) = static_cast<int16_t>(up);
    SetChild(w, up, Right(w, up) != p, q);  // which side: a coin toss
    Parent(w, p) = LZ_NIL;
}

// Starts a walk for the string at r from the top of its tree, which must not be empty.
static inline __attribute__((always_inline)) void StartWalk(const ZipWork &w, int r, Walker &x)
{
    const uint8_t *key = &w.ring[r];
    x.key[0] = Word(key + 1);
    x.key[1] = Word(key + 9);
    x.at = static_cast<uint64_t>(Right(w, LZ_RING + 1 + key[0]));
    x.c1 = Word(w.ring + 1 + x.at);
    x.c2 = Word(w.ring + 9 + x.at);
    x.lastRight = LZ_NIL;
    memcpy(&x.pair, &w.node[x.at], 4);
}

// Links r where its walk ended, as Insert would.  The walk looked at bytes 1-16 only: one
// that passed a node sharing them with r turned right there, and every later right turn
// was at such a node too, since the nodes beyond are greater.  So when the last right
// turn was at such a node, Insert walks again, minding byte 17 and an equal string;
// otherwise the walk took Insert's way.
static inline __attribute__((always_inline)) void EndWalk(ZipWork &w, int r, const Walker &x)
{
    w.lastFull = -1;
    if (Word(w.ring + 1 + x.lastRight) == x.key[0] && Word(w.ring + 9 + x.lastRight) == x.key[1]) {
        Insert(w, r);
        return;
    }
    SetPair(w, r, LZ_NIL | LZ_NIL << 16);
    SetChild(w, static_cast<int>(x.at), Before(x.key, x.c1, x.c2) ? 1 : 0, r);
    Parent(w, r) = static_cast<int16_t>(x.at);
}

// Links the strings at a and a + 1, which start in two different trees and whose matches
// nobody asks for, with the two walks taken in step: each step waits for its loads, and
// the other walk's loads, which do not depend on them, proceed meanwhile.  An empty
// tree leaves the work to Insert.
static __attribute__((noinline)) void EnterTwo(ZipWork &w, int a, int b)
{
    if (Right(w, LZ_RING + 1 + w.ring[a]) == LZ_NIL || Right(w, LZ_RING + 1 + w.ring[b]) == LZ_NIL) {
        Insert(w, a);
        Insert(w, b);
        return;
    }
    const uint8_t *ring = w.ring;
    const uint8_t *pairs = reinterpret_cast<const uint8_t *>(w.node);
    Walker x, y;
    StartWalk(w, a, x);
    StartWalk(w, b, y);
    bool more, moreToo;
    do {
        more = Step(ring, pairs, x);
        moreToo = Step(ring, pairs, y);
    } while (more && moreToo);
    while (more && Step(ring, pairs, x)) {
    }
    while (moreToo && Step(ring, pairs, y)) {
    }
    EndWalk(w, a, x);
    EndWalk(w, b, y);
}

// Links the strings at a and a + 1, which start in two different trees, as Insert would
// one after the other, with the two searches taken in step: each step waits for its
// loads, and the other search's loads, which do not depend on them, proceed meanwhile.
// Returns the best node of a's search in the low half and that of a + 1 in the high.
static inline __attribute__((always_inline)) uint64_t InsertTwo(ZipWork &w, int a, int b)
{
    Search x, y;
    const bool more = StartSearch(w, a, x);
    const bool moreToo = StartSearch(w, b, y);
    if (more && moreToo) {
        for (;;) {
            if (!Probe(w, x)) {
                while (Probe(w, y)) {
                }
                break;
            }
            if (!Probe(w, y)) {
                while (Probe(w, x)) {
                }
                break;
            }
        }
    } else {
        while (more && Probe(w, x)) {
        }
        while (moreToo && Probe(w, y)) {
        }
    }
    w.lastFull = static_cast<int16_t>(BestShared(y.best) == LZ_LONGEST ? BestNode(y.best) : -1);
    return x.best | static_cast<uint64_t>(y.best) << 32;
}

// Makes a best node the match coded next.
static inline void Take(ZipWork &w, uint32_t best)
{
    w.matchPosition = static_cast<int16_t>(BestNode(best));
    w.matchLength = static_cast<int16_t>(BestShared(best));
}

void LZ_DeleteNode(ZipWork &w, int p) { Delete(w, p); }

void LZ_InsertNode(ZipWork &w, int r) { Insert(w, r); }

// Whether the insertions of a and a + 1 may be done as a pair (EnterTwo, InsertTwo): no
// shortcut pending from the one before, two different trees, and the deletion of
// `gone`, which the pair does before the first insertion, not in the first one's tree.
static inline bool Pairs(const ZipWork &w, int a, int gone)
{
    if (w.lastFull >= 0) return false;
    const uint8_t first = w.ring[a];
    if (first == w.ring[(a + 1) & (LZ_RING - 1)]) return false;
    return w.parent[gone] == LZ_NIL || w.ring[gone] != first;
}

// Enters one byte at `at` (the oldest position, taken out of its tree first).
static inline __attribute__((always_inline)) void Enter(ZipWork &w, int at, uint8_t c)
{
    Delete(w, at);
    w.ring[at] = c;
    if (at < LZ_LONGEST - 1) w.ring[at + LZ_RING] = c;
}

// The position after r was entered ahead (the lookahead then is one byte longer).
static inline bool Ahead(int s, int r) { return ((s - r) & (LZ_RING - 1)) != LZ_LONGEST; }

// Takes the position entered ahead as the next one: its match is the one coded next.
static inline void TakeAhead(ZipWork &w, int &r)
{
    r = Next(r);
    Take(w, w.aheadBest);
}

// Enters in[k] for the position after r, whose match is read: with the position after
// it, entered ahead, when another item follows and the two may pair.
static inline __attribute__((always_inline)) void EnterLast(ZipWork &w, const uint8_t *in, int k, bool more,
                                                            int &s, int &r)
{
    Enter(w, s, in[k]);
    s = Next(s);
    r = Next(r);
    if (more && Pairs(w, r, s)) {
        Enter(w, s, in[k + 1]);
        s = Next(s);
        const uint64_t both = InsertTwo(w, r, Next(r));
        Take(w, static_cast<uint32_t>(both));
        w.aheadBest = static_cast<uint32_t>(both >> 32);
        return;
    }
    Insert(w, r);
}

// The group the literal loop fills, in place in the output behind the finished ones.
struct Growing {
    uint8_t *group;
    int used;
    unsigned flags;
    unsigned bit;
};

// Adds a literal to the group.  Where a group ends is a branch no predictor follows
// across walks of varying length, so the end moves the group on by arithmetic.
static inline __attribute__((always_inline)) void AddLiteral(Growing &g, uint8_t c)
{
    g.group[g.used] = c;
    g.flags |= g.bit;
    g.group[0] = static_cast<uint8_t>(g.flags);
    ++g.used;
    g.bit <<= 1;
    const unsigned ended = g.bit >> 8;  // 1 when the group is full
    const int endMask = -static_cast<int>(ended);
    g.group += g.used & endMask;
    g.used -= (g.used - 1) & endMask;
    g.flags &= ended - 1;
    g.bit = (g.bit & 0xFF) | ended;
}

static inline bool IsMatch(uint32_t best) { return best < Rank(LZ_THRESHOLD + 1); }

int LZ_Literals(ZipWork &w, const uint8_t *in, int room, int &s, int &r, int &fill, unsigned &mask,
                uint8_t *groups, int &finished)
{
    int at = s, lead = r, k = 0;
    Growing g{groups + finished, fill, w.group[0], mask};
    memcpy(g.group, w.group, LZ_GROUP_CODE_MAX);
    // Items up to `last` (exclusive) are coded here: the room for groups, and the input's.
    const int groupRoom = 8 * LZ_LITERAL_GROUPS - __builtin_ctz(mask);
    const int last = room - (LZ_LONGEST - 1) < groupRoom ? room - (LZ_LONGEST - 1) : groupRoom;
    uint32_t best, next = w.aheadBest;
    bool stop = false;
    if (Ahead(at, lead)) {  // the next item's match was found with the last pair
        AddLiteral(g, w.ring[lead]);
        lead = Next(lead);
        best = next;
        stop = ++k == last || IsMatch(best);
    }
    while (!stop) {
        AddLiteral(g, w.ring[lead]);
        lead = Next(lead);
        Enter(w, at, in[k]);
        at = Next(at);
        if (k < room - LZ_LONGEST && Pairs(w, lead, at)) {
            Enter(w, at, in[k + 1]);
            at = Next(at);
            const uint64_t both = InsertTwo(w, lead, Next(lead));
            best = static_cast<uint32_t>(both);
            next = static_cast<uint32_t>(both >> 32);
            if (++k == last || IsMatch(best)) break;  // the position after lead stays ahead
            AddLiteral(g, w.ring[lead]);
            lead = Next(lead);
            best = next;
        } else {
            Insert(w, lead);
            best = Best(Rank(w.matchLength), w.matchPosition);
        }
        stop = ++k == last || IsMatch(best);
    }
    Take(w, best);
    w.aheadBest = next;
    g.group[0] = static_cast<uint8_t>(g.flags);  // a group just begun has no flags yet
    memcpy(w.group, g.group, LZ_GROUP_CODE_MAX);
    s = at;
    r = lead;
    fill = g.used;
    mask = g.bit;
    finished = static_cast<int>(g.group - groups);
    return k;
}

void LZ_Advance(ZipWork &w, const uint8_t *in, int length, bool more, int &s, int &r)
{
    int at = s, lead = r, k = 0;
    if (Ahead(at, lead)) {
        TakeAhead(w, lead);
        k = 1;
    }
    // Inner positions, whose matches nobody reads, walk in pairs where they may, the
    // last of an odd number with the final position.
    for (; k < length - 1; ++k) {
        Enter(w, at, in[k]);
        at = Next(at);
        lead = Next(lead);
        if (!Pairs(w, lead, at)) {
            Insert(w, lead);
            continue;
        }
        Enter(w, at, in[k + 1]);
        at = Next(at);
        if (k + 2 == length) {
            Take(w, static_cast<uint32_t>(InsertTwo(w, lead, Next(lead)) >> 32));
            s = at;
            r = Next(lead);
            return;
        }
        EnterTwo(w, lead, Next(lead));
        lead = Next(lead);
        ++k;
    }
    if (k < length) EnterLast(w, in, k, more, at, lead);
    s = at;
    r = lead;
}

void ZIP_EncodeClear(ZipWork &w)
{
    // The trees hold at most the positions from LZ_START - LZ_LONGEST up to the last
    // one the lookahead reached, LZ_START + entered.  Nothing entered: nothing new.
    if (w.entered != 0) {
        uint32_t span = w.entered + 2 * LZ_LONGEST + 1;
        w.treeSpan = static_cast<uint16_t>(span < LZ_RING ? span : 0);
    }
    const size_t from = offsetof(ZipWork, entered);
    memset(reinterpret_cast<uint8_t *>(&w) + from, 0, sizeof w - from);
}

// Marks n nodes from p on as in no tree, four at a time.
static void NoParents(int16_t *p, int n)
{
    const uint64_t four = 0x0001000100010001ull * static_cast<uint16_t>(LZ_NIL);
    int i = 0;
    for (; i + 4 <= n; i += 4) memcpy(p + i, &four, 8);
    for (; i < n; ++i) p[i] = LZ_NIL;
}

void ZIP_EncodeStart(ZipWork &w)
{
    w.entered = 0;
    w.lastFull = -1;
    for (int i = LZ_RING + 1; i <= LZ_RING + 256; ++i) SetRight(w, i, LZ_NIL);
    // The span starts LZ_LONGEST positions before the end of the ring and wraps: two plain
    // runs, which the compiler fills a vector at a time.
    const int span = w.treeSpan != 0 ? w.treeSpan : LZ_RING;
    const int first = LZ_START - LZ_LONGEST;
    const int tail = span < LZ_RING - first ? span : LZ_RING - first;
    NoParents(w.parent + first, tail);
    NoParents(w.parent, span - tail);
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
