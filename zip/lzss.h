// lzss.h - the LZSS codec of the compressed message stream.
//
// Stream: groups of a flags byte (bit k = 1: item k is a literal byte; 0: a match) and
// up to eight items.  A match is two bytes A, B: ring position A | (B & 0xF0) << 4 and
// length (B & 0x0F) + 3, so 3 to 18 bytes copied from a 4096-byte ring that starts
// with positions 0-4077 holding spaces and is written from 4078 on.  Every message is
// coded on its own, behind a primer of 18 spaces that the receiver discards, so every
// stream starts with a match at 4060 of length 18: a flags byte with bit 0 clear, DC FF.
//
// Both directions work incrementally.  The encoder takes a message in pieces and may
// stop in the middle of advancing over an item until the next piece comes; cutting a
// message anywhere yields the same code bytes.  The decoder pulls code bytes from a
// source and pushes decoded bytes into a sink until the sink is full, and resumes where
// it stood on the next call.
//
// The codec is written against the context's operations (template parameters):
//   encoder context: int InputLeft(); uint8_t NextInput(); bool Ending();
//                    const uint8_t *InputSpan(); void InputTaken(int n): the rest of
//                    the piece at once, and how much of it the encoder took;
//                    int PutCodes(const uint8_t *code, int n): code bytes, a group
//                    at a time;  int EndMessage();   (0 = done)
//   decoder context: int GetCode(uint8_t &);  an LzCode
//                    int PutData(uint8_t);  0, or nonzero refused;  bool Full();  bool Holding();
//                    void Release();  bool Short()  (fewer bytes than requested)
//                    bool Spans(const uint8_t *&code, int &codeLeft, uint8_t *&out,
//                               int &room): code bytes at hand and room for plain
//                               output, for decoding whole groups at once (false: none);
//                    void Consumed(int code, int produced): what such a run used.
#pragma once

#include <cstdint>
#include <cstring>

// What a decoder context's GetCode answers.
enum LzCode : int {
    LZ_CODE_READY = 0,    // a code byte delivered
    LZ_CODE_NONE = -1,    // none now: the decoder keeps its place for the next run
    LZ_CODE_BROKEN = -3,  // the source failed for good
    LZ_CODE_ENDED = -4,   // the message's stream has no more code
};

// What ZIP_DecodeRun answers.
enum LzRun : int {
    LZ_RUN_FULL = 0,       // the sink got every byte requested
    LZ_RUN_SHORT = -1,     // fewer: the source ended or had nothing now
    LZ_RUN_BROKEN = -3,    // the source failed for good
    LZ_RUN_REFUSED = -5,   // the sink refused a byte
};

constexpr int LZ_RING = 4096;
constexpr int LZ_LONGEST = 18;
constexpr int LZ_THRESHOLD = 2;
constexpr int16_t LZ_NIL = LZ_RING;
constexpr int LZ_START = LZ_RING - LZ_LONGEST;  // 4078
constexpr uint8_t LZ_FILL = 0x20;
constexpr int LZ_PRIMER = LZ_LONGEST;
constexpr int LZ_GROUP_CODE_MAX = 17;  // a flags byte and eight matches

// A node of the encoder's trees as a walk step reads it: its two children, so that the
// records of all nodes (17 KiB) and the ring, where the keys are read, stay in the
// first-level cache together.
struct LzNode {
    uint16_t child[2];  // child[0] the right one (greater or equal strings), child[1] the left one
};

struct ZipWork {
    // Nodes 0-4095 are ring positions; node 4096 takes the updates of absent children;
    // nodes 4097 + b are the roots of the strings that start with byte b, which use only
    // their right child.  First, so that records keep the alignment of the allocation.
    LzNode node[LZ_RING + 257];
    int16_t parent[LZ_RING + 1];  // LZ_NIL: the node is in no tree
    // How many ring positions from LZ_START - LZ_LONGEST on may still be in a tree; 0 for
    // all of them (a new work area).  Kept by ZIP_EncodeClear, so that a new message
    // takes out of the trees only the nodes the last one put in.
    uint16_t treeSpan;
    uint32_t entered;                     // bytes entered into the ring, primer included
    uint8_t ring[LZ_RING + LZ_LONGEST - 1];  // positions 0-16 repeated behind the ring
    uint8_t suspended;                    // waiting for input in the middle of an advance
    int16_t matchPosition;
    int16_t matchLength;
    // The match of the position after r when LZ_Advance or LZ_Literals entered it ahead
    // of its item (s is then r + 19, not r + 18): its node in bits 0-15, 24 less its
    // length above.
    uint32_t aheadBest;
    // The node the previous insertion found holding its whole 18-byte string, or -1.
    // Inside a repeated run the next string is usually held by the node after it; that
    // node is taken only when it is in a tree and holds exactly the new string.
    int16_t lastFull;
    uint8_t group[17];                    // flags byte and up to eight items
    int16_t lastMatchLength;              // positions the item just coded covers
    int16_t groupFill;                    // next free index in group
    uint8_t mask;                         // flags bit of the next item
    int16_t lookahead;                    // bytes still to be coded
    int16_t r;                            // ring position of the first lookahead byte
    int16_t s;                            // ring position the next message byte goes to
    int16_t advanced;                     // positions of lastMatchLength advanced over
};

struct UnzipWork {
    int16_t position;     // ring position of the match being copied
    int16_t span;         // match length minus one
    int16_t copied;       // index of the match byte being copied
    int16_t r;            // where the next decoded byte is stored
    uint16_t current;
    uint16_t flags;       // flags byte in the low 8 bits; bit 8 marks bits still unused
    uint8_t resumeState;  // 0, 1, 2, 4 or 5: where the next run enters
    uint8_t ring[LZ_RING + LZ_LONGEST - 1];
};

// Tree operations of the encoder.
void LZ_InsertNode(ZipWork &w, int r);
void LZ_DeleteNode(ZipWork &w, int p);
// Enters the next `length` bytes of the piece into the ring and the trees, from ring
// position s on; the lookahead then starts at r + length.  When `more` says that
// another item follows, for which in[length] is there, the advance may enter that byte
// ahead with the position after the next item's (s then is r + 19); the next advance
// starts with it.
void LZ_Advance(ZipWork &w, const uint8_t *in, int length, bool more, int &s, int &r);
// Codes the literal item at r and those after it, each with its advance, while the
// next one is a literal too and the piece holds a whole lookahead beyond it (`room` is
// what the piece holds from in on).  Each group it fills goes to `groups`, after the
// `finished` bytes there, LZ_LITERAL_GROUPS at most; the buffer holds one group more,
// where the group in progress grows.  Returns how many items were coded.
constexpr int LZ_LITERAL_GROUPS = 16;
int LZ_Literals(ZipWork &w, const uint8_t *in, int room, int &s, int &r, int &fill, unsigned &mask,
                uint8_t *groups, int &finished);

// Clears the encoder's state for a new message, all but the nodes: ZIP_EncodeStart takes
// out of the trees the nodes the last message may have put in, and a node's children are
// set when it is inserted.
void ZIP_EncodeClear(ZipWork &w);
// Prepares a cleared encoder state for a new message: trees, ring, primer.
void ZIP_EncodeStart(ZipWork &w);

// Prepares a cleared decoder state for a new compressed message.
void ZIP_DecodeStart(UnzipWork &w);

// Hands the finished group to the sink and starts the next one: 0, or -1 when the
// sink failed.
template <typename Ctx>
int LZ_PutGroup(ZipWork &w, Ctx &ctx, int fill)
{
    if (ctx.PutCodes(w.group, fill) != 0) return -1;
    w.group[0] = 0;
    return 0;
}

// The bytes entered into the ring after `taken` bytes of a piece, from `start` on: the
// position after r may have been entered ahead of its item.
inline uint32_t LZ_Entered(uint32_t start, int taken, int s, int r)
{
    return start + static_cast<uint32_t>(taken + ((s - r) & (LZ_RING - 1)) - LZ_LONGEST);
}

// Codes items while the piece holds a whole lookahead more than it has taken: each
// item then advances over new bytes only and never waits, so positions, group and mask
// live in registers, not in the state that every ring store could overwrite.  Leaves
// the state exactly as the same items coded one step at a time would.  Returns 0, or
// -1 when the code sink failed.
//
// A failed sink may have ended the session and freed this state and the context, so
// nothing is touched after one; before each call, the trees' clean-up learns of every
// byte entered, which is all the state a failed message still needs.
template <typename Ctx>
int LZ_EncodeItems(ZipWork &w, Ctx &ctx)
{
    const int left = ctx.InputLeft();
    if (w.suspended || w.lookahead != LZ_LONGEST || left < LZ_LONGEST) return 0;
    const uint8_t *in = ctx.InputSpan();
    const uint32_t start = w.entered;
    int taken = 0;
    int r = w.r, s = w.s, fill = w.groupFill, length = 0;
    unsigned mask = w.mask;
    uint8_t groups[(LZ_LITERAL_GROUPS + 1) * LZ_GROUP_CODE_MAX];
    while (left - taken >= LZ_LONGEST) {
        length = w.matchLength;
        if (length <= LZ_THRESHOLD) {
            length = 1;
            int finished = 0;
            taken += LZ_Literals(w, in + taken, left - taken, s, r, fill, mask, groups, finished);
            if (finished != 0) {
                w.entered = LZ_Entered(start, taken, s, r);
                if (ctx.PutCodes(groups, finished) != 0) return -1;
            }
        } else {
            w.group[fill++] = static_cast<uint8_t>(w.matchPosition);
            w.group[fill++] = static_cast<uint8_t>(((w.matchPosition >> 4) & 0xF0) | (length - (LZ_THRESHOLD + 1)));
            mask = (mask << 1) & 0xFF;
            taken += length;
            LZ_Advance(w, in + taken - length, length, left - taken >= LZ_LONGEST, s, r);
        }
        if (mask == 0) {
            w.entered = LZ_Entered(start, taken, s, r);
            if (LZ_PutGroup(w, ctx, fill) != 0) return -1;
            fill = 1;
            mask = 1;
        }
    }
    w.r = static_cast<int16_t>(r);
    w.s = static_cast<int16_t>(s);
    w.groupFill = static_cast<int16_t>(fill);
    w.mask = static_cast<uint8_t>(mask);
    w.lastMatchLength = w.advanced = static_cast<int16_t>(length);
    w.entered = LZ_Entered(start, taken, s, r);
    ctx.InputTaken(static_cast<int>(w.entered - start));
    return 0;
}

// Codes the items that the piece at hand allows: every one while a whole lookahead of
// input remains beyond it, then one more, over which it advances as far as the input
// allows.  Returns the lookahead length (0-18), or -1 when the code sink failed.
template <typename Ctx>
int ZIP_EncodeStep(ZipWork &w, Ctx &ctx)
{
    if (LZ_EncodeItems(w, ctx) != 0) return -1;
    if (w.lookahead > 0) {
        if (!w.suspended) {
            if (w.matchLength > w.lookahead) w.matchLength = w.lookahead;
            if (w.matchLength <= LZ_THRESHOLD) {
                w.matchLength = 1;
                w.group[0] = static_cast<uint8_t>(w.group[0] | w.mask);
                w.group[w.groupFill++] = w.ring[w.r];
            } else {
                w.group[w.groupFill++] = static_cast<uint8_t>(w.matchPosition);
                w.group[w.groupFill++] =
                    static_cast<uint8_t>(((w.matchPosition >> 4) & 0xF0) | (w.matchLength - (LZ_THRESHOLD + 1)));
            }
            w.mask = static_cast<uint8_t>(w.mask << 1);
            if (w.mask == 0) {
                if (LZ_PutGroup(w, ctx, w.groupFill) != 0) return -1;
                w.groupFill = 1;
                w.mask = 1;
            }
            w.lastMatchLength = w.matchLength;
            w.advanced = 0;
        }
        w.suspended = ctx.Ending() ? 0 : (ctx.InputLeft() < w.lastMatchLength - w.advanced ? 1 : 0);
        while (w.advanced < w.lastMatchLength && ctx.InputLeft() > 0) {
            LZ_DeleteNode(w, w.s);
            uint8_t c = ctx.NextInput();
            w.ring[w.s] = c;
            if (w.s < LZ_LONGEST - 1) w.ring[w.s + LZ_RING] = c;
            w.s = static_cast<int16_t>((w.s + 1) & (LZ_RING - 1));
            w.r = static_cast<int16_t>((w.r + 1) & (LZ_RING - 1));
            LZ_InsertNode(w, w.r);
            ++w.entered;
            ++w.advanced;
        }
        if (w.suspended) return w.lookahead;
        while (w.advanced < w.lastMatchLength) {
            ++w.advanced;
            LZ_DeleteNode(w, w.s);
            w.s = static_cast<int16_t>((w.s + 1) & (LZ_RING - 1));
            w.r = static_cast<int16_t>((w.r + 1) & (LZ_RING - 1));
            if (--w.lookahead) LZ_InsertNode(w, w.r);
        }
    }
    if (w.lookahead == 0) {
        if (w.groupFill > 1 && ctx.PutCodes(w.group, w.groupFill) != 0) return -1;
        w.groupFill = 1;
        if (ctx.Ending() && ctx.EndMessage() != 0) return -1;
    }
    return w.lookahead;
}

constexpr int LZ_GROUP_OUTPUT_MAX = 8 * LZ_LONGEST;

// Copies 3 to 18 bytes, all read before any is written, with word moves that write
// exactly `length` bytes (overlapping stores of the same values).
inline void LZ_CopyMatch(uint8_t *dst, const uint8_t *src, int length)
{
    if (length >= 8) {
        uint64_t a, b, c;
        memcpy(&a, src, 8);
        memcpy(&b, src + 8, 8);  // read even when unused: the ring has room behind it
        memcpy(&c, src + length - 8, 8);
        memcpy(dst, &a, 8);
        if (length > 16) memcpy(dst + 8, &b, 8);
        memcpy(dst + length - 8, &c, 8);
        return;
    }
    if (length >= 4) {
        uint32_t a, c;
        memcpy(&a, src, 4);
        memcpy(&c, src + length - 4, 4);
        memcpy(dst, &a, 4);
        memcpy(dst + length - 4, &c, 4);
        return;
    }
    uint8_t a = src[0], b = src[1], c = src[2];
    dst[0] = a;
    dst[1] = b;
    dst[2] = c;
}

// Produces one match at dst = out + made: `length` bytes from ring position `position`,
// the source starting `behind` bytes (1 to 4096) before dst.  Bytes made in this run
// are read back from out, older ones from the ring, which the run has not touched yet.
inline void LZ_PutMatch(const uint8_t *ring, uint8_t *out, int made, int position, int length, int behind)
{
    uint8_t *dst = out + made;
    if (behind <= made) {
        const uint8_t *src = dst - behind;
        if (behind >= length) {
            LZ_CopyMatch(dst, src, length);
        } else if (behind == 1) {
            memset(dst, *src, static_cast<size_t>(length));  // a run of one byte
        } else {
            for (int j = 0; j < length; ++j) dst[j] = src[j];  // reads what it writes
        }
        return;
    }
    if (behind - length >= made && position + length <= LZ_RING) {
        LZ_CopyMatch(dst, ring + position, length);
        return;
    }
    for (int j = 0; j < length; ++j) {  // wraps the ring, or runs on into this run's bytes
        int from = made + j - behind;
        dst[j] = from >= 0 ? out[from] : ring[(position + j) & (LZ_RING - 1)];
    }
}

// Groups with at most this many literals are decoded wide (LZ_GroupWide); the
// caller leaves code and room for the wide group and two more after it.
constexpr int LZ_WIDE_LITERALS = 2;
constexpr int LZ_WIDE_CODE = 3 * LZ_GROUP_CODE_MAX + 16;
constexpr int LZ_WIDE_ROOM = 3 * LZ_GROUP_OUTPUT_MAX + 16;

// Literals in a group: the bits of its flags byte, counted without a library call.
inline unsigned LZ_LiteralCount(unsigned flags)
{
    flags = flags - ((flags >> 1) & 0x55);
    flags = (flags & 0x33) + ((flags >> 2) & 0x33);
    return (flags + (flags >> 4)) & 0x0F;
}

struct LZ_Spent {
    int used;  // code bytes
    int made;  // output bytes
};

// Decodes a group that is mostly matches, each item copied as 16 bytes, a literal from
// the code and a match from the output made before it, so that no branch asks which
// kind an item is: in mixed data that is a coin toss.  Up to 15 bytes past the
// group's output are scratch, which the two groups that follow overwrite (at least 16
// bytes); the code is read up to 16 bytes past the group.  Matches that overlap their
// own output or reach into the ring, and those longer than 16 bytes, take a branch.
// Out of line, so that the caller's counters stay in registers.
__attribute__((noinline)) inline LZ_Spent LZ_GroupWide(const uint8_t *ring, int r, const uint8_t *code, int used,
                                                      uint8_t *out, int made)
{
    unsigned flags = code[used++];
    for (int k = 0; k < 8; ++k, flags >>= 1) {
        const uintptr_t literal = 0u - static_cast<uintptr_t>(flags & 1);  // all ones for a literal
        unsigned b = code[used + 1];
        int position = code[used] | ((b & 0xF0) << 4);
        int length = 1 + static_cast<int>(~literal & ((b & 0x0F) + LZ_THRESHOLD));
        int behind = ((r + made - position - 1) & (LZ_RING - 1)) + 1;
        int from = made - behind;
        from = from < 0 ? 0 : from;
        uintptr_t matchFrom = reinterpret_cast<uintptr_t>(out + from);
        uintptr_t literalFrom = reinterpret_cast<uintptr_t>(code + used);
        const uint8_t *src = reinterpret_cast<const uint8_t *>(matchFrom ^ ((matchFrom ^ literalFrom) & literal));
        used += 2 - static_cast<int>(flags & 1);
        if (!literal && (behind < length || behind > made)) {
            LZ_PutMatch(ring, out, made, position, length, behind);
        } else {
            uint64_t x, y;
            memcpy(&x, src, 8);
            memcpy(&y, src + 8, 8);
            memcpy(out + made, &x, 8);
            memcpy(out + made + 8, &y, 8);
            if (length > 16) memcpy(out + made + 16, src + 16, 2);
        }
        made += length;
    }
    return {used, made};
}

// Decodes whole groups straight from the code at hand into the room at hand, while both
// hold a full group; entered only at a group boundary.  The run writes only to the
// room: matches read recent bytes back from it, and the ring takes the bytes made (the
// last 4096 at most) in one copy at the end.  A group of eight literals is one word.
// The room and code checked before each group leave no scratch of a wide group behind.
template <typename Ctx>
void LZ_DecodeGroups(UnzipWork &w, Ctx &ctx)
{
    const uint8_t *code;
    uint8_t *out;
    int codeLeft, room;
    if (!ctx.Spans(code, codeLeft, out, room)) return;
    int used = 0;
    int made = 0;
    const int r = w.r;
    while (codeLeft - used >= LZ_GROUP_CODE_MAX && room - made >= LZ_GROUP_OUTPUT_MAX) {
        unsigned flags = code[used];
        if (flags == 0xFF) {  // eight literals
            memcpy(out + made, code + used + 1, 8);
            used += 9;
            made += 8;
            continue;
        }
        if (LZ_LiteralCount(flags) <= LZ_WIDE_LITERALS && codeLeft - used >= LZ_WIDE_CODE &&
            room - made >= LZ_WIDE_ROOM) {
            LZ_Spent spent = LZ_GroupWide(w.ring, r, code, used, out, made);
            used = spent.used;
            made = spent.made;
            continue;
        }
        ++used;
        for (int k = 0; k < 8; ++k, flags >>= 1) {
            if (flags & 1) {
                out[made++] = code[used++];
                continue;
            }
            int position = code[used] | ((code[used + 1] & 0xF0) << 4);
            int length = (code[used + 1] & 0x0F) + LZ_THRESHOLD + 1;
            used += 2;
            int behind = ((r + made - position - 1) & (LZ_RING - 1)) + 1;
            LZ_PutMatch(w.ring, out, made, position, length, behind);
            made += length;
        }
    }
    if (used == 0) return;
    int n = made < LZ_RING ? made : LZ_RING;
    int at = (r + made - n) & (LZ_RING - 1);
    int first = LZ_RING - at < n ? LZ_RING - at : n;
    memcpy(w.ring + at, out + made - n, static_cast<size_t>(first));
    memcpy(w.ring, out + made - n + first, static_cast<size_t>(n - first));
    w.r = static_cast<int16_t>((r + made) & (LZ_RING - 1));
    w.current = out[made - 1];
    w.flags = 0;  // the group is used up: the next item reads a flags byte
    ctx.Consumed(used, made);
}

// Decodes until the sink is full or the source has nothing more: an LzRun.
template <typename Ctx>
int ZIP_DecodeRun(UnzipWork &w, Ctx &ctx)
{
    uint8_t b = 0;
    int rc = LZ_CODE_READY;
    switch (w.resumeState) {
    case 1: goto item;
    case 2: goto second;
    case 5: ++w.copied; goto copy;
    default: goto next;  // 0 and 4
    }
next:
    if ((w.flags & 0x200) == 0) LZ_DecodeGroups(w, ctx);  // at a group boundary
    w.flags = static_cast<uint16_t>(w.flags >> 1);
    if ((w.flags & 0x100) == 0) {
        if ((rc = ctx.GetCode(b)) != LZ_CODE_READY) {
            if (rc == LZ_CODE_BROKEN) return LZ_RUN_BROKEN;
            w.resumeState = 0;
            goto missing;
        }
        w.flags = static_cast<uint16_t>(b | 0xFF00);
    }
item:
    if (w.flags & 1) {
        if ((rc = ctx.GetCode(b)) != LZ_CODE_READY) {
            if (rc == LZ_CODE_BROKEN) return LZ_RUN_BROKEN;
            w.resumeState = 1;
            goto missing;
        }
        if (ctx.PutData(b) != 0) return LZ_RUN_REFUSED;
        w.current = b;
        w.ring[w.r] = b;
        w.r = static_cast<int16_t>((w.r + 1) & (LZ_RING - 1));
        if (ctx.Full()) {
            w.resumeState = 4;
            goto stop;
        }
        goto next;
    }
    if ((rc = ctx.GetCode(b)) != LZ_CODE_READY) {
        if (rc == LZ_CODE_BROKEN) return LZ_RUN_BROKEN;
        w.resumeState = 1;
        goto missing;
    }
    w.position = b;
second:
    if ((rc = ctx.GetCode(b)) != LZ_CODE_READY) {
        if (rc == LZ_CODE_BROKEN) return LZ_RUN_BROKEN;
        w.resumeState = 2;
        goto missing;
    }
    w.position = static_cast<int16_t>(w.position | ((b & 0xF0) << 4));
    w.span = static_cast<int16_t>((b & 0x0F) + LZ_THRESHOLD);
    w.copied = 0;
copy:
    while (w.copied <= w.span) {
        uint8_t c = w.ring[(w.position + w.copied) & (LZ_RING - 1)];
        if (ctx.PutData(c) != 0) return LZ_RUN_REFUSED;
        w.current = c;
        w.ring[w.r] = c;
        w.r = static_cast<int16_t>((w.r + 1) & (LZ_RING - 1));
        if (ctx.Full()) {
            w.resumeState = 5;
            goto stop;
        }
        ++w.copied;
    }
    goto next;
missing:
    if (rc == LZ_CODE_ENDED && ctx.Holding()) ctx.Release();
stop:
    return ctx.Short() ? LZ_RUN_SHORT : LZ_RUN_FULL;
}
