


// Messages cut into frames and joined again, over a loopback connection.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <thread>
#include <string>

#include "support/abort_script.h"
#include "support/fake_platform.h"
#include "support/lzss_memory.h"
#include "support/recorders.h"
#include "support/session_wiring.h"
#include "support/tcp_peer.h"
#include "zip/zip.h"

namespace {

Bytes Text(const std::string &s) { return Bytes(s.begin(), s.end()); }

Bytes operator+(Bytes a, const Bytes &b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// n bytes in which no string of three bytes repeats and nothing matches the spaces of
// the fresh ring: every byte codes as a literal.
Bytes Unique(size_t n)
{
    Bytes out;
    for (size_t k = 0; out.size() < n; ++k) {
        out.push_back(static_cast<uint8_t>(k & 0xFF));
        if (out.size() < n) out.push_back(static_cast<uint8_t>(0x80 + (k >> 8)));
    }
    return out;
}

// A message of at least `target` bytes whose stream has exactly `target` bytes: unique
// bytes, then a run that adds little to the stream.
Bytes MessageWithStream(size_t target)
{
    for (size_t unique = target; unique-- > 0;) {
        for (size_t run = target > unique ? target - unique : 0; run < target; ++run) {
            Bytes m = Unique(unique) + Bytes(run, 'Z');
            size_t n = LzssEncode(m).size();
            if (n == target) return m;
            if (n > target) break;
        }
    }
    return {};
}

// The frames a sender puts on the wire for a payload stream.
Bytes Frames(const Bytes &payload, bool packed)
{
    Bytes out;
    size_t at = 0;
    do {
        size_t n = std::min<size_t>(256, payload.size() - at);
        bool last = at + n == payload.size();
        out.push_back(static_cast<uint8_t>((last ? 0x40 : 0) | (packed ? 0x08 : 0)));
        if (last) {
            out.push_back(static_cast<uint8_t>(n >> 8));
            out.push_back(static_cast<uint8_t>(n));
        }
        out.insert(out.end(), payload.begin() + static_cast<long>(at), payload.begin() + static_cast<long>(at + n));
        at += n;
    } while (at < payload.size());
    return out;
}

class ZipFrames : public ::testing::Test {
protected:
    void SetUp() override
    {
        Session_Reset();
        display.Install();
        socket = peer.ConnectLibrary();
        ASSERT_GE(socket, 0);
    }
    void TearDown() override
    {
        ReleaseAllSessions();
        TCPAPI_Close(socket);
    }

    // Sends message in pieces (0: one piece) and ends it; returns the wire bytes.
    Bytes Send(const Bytes &message, size_t piece = 0, uint8_t version = 2)
    {
        short id = WireSession(socket, TURN_SEND, version);
        uint8_t *tx = Session_Record(id)->txBuffer;
        size_t at = 0;
        while (at < message.size()) {
            size_t n = piece == 0 ? message.size() - at : std::min(piece, message.size() - at);
            EXPECT_EQ(ZIP_ZipFrame(id, message.data() + at, static_cast<uint16_t>(n), tx), ZIP_OK);
            at += n;
        }
        Session_Record(id)->txEnd = 1;  // as the end of message does
        EXPECT_EQ(ZIP_ZipFlush(id, tx), ZIP_OK);
        Session_Record(id)->handle = -1;  // the connection stays for the next message
        Session_Release(id, ReleasePause::No);
        return peer.Receive(message.size() * 2 + 600, 300);
    }

    // A receiving session, with the wire bytes already sent to it.
    short Receiver(const Bytes &wire, uint8_t version = 2)
    {
        short id = WireSession(socket, TURN_RECEIVE, version);
        Session_Record(id)->handle = socket;
        peer.Send(wire);
        return id;
    }

    int16_t Read(short id, Bytes &out, uint16_t n, uint8_t &last)
    {
        Bytes buffer(n + 1u, 0xEE);
        uint16_t count = n;
        int16_t rc = ZIP_UnzipFrame(id, buffer.data(), &count, &last);
        EXPECT_EQ(buffer[n], 0xEE) << "nothing written past the request";
        EXPECT_EQ(std::count(buffer.begin() + count, buffer.end(), 0xEE), static_cast<long>(n + 1u - count))
            << "nothing written past the bytes delivered";
        out.insert(out.end(), buffer.begin(), buffer.begin() + count);
        return rc;
    }

    SocketService service;
    FakeClock clock;
    DisplayRecorder display;
    TcpPeer peer;
    int32_t socket = -1;
};

TEST_F(ZipFrames, ShortMessagesTravelInOneFrame)
{
    EXPECT_EQ(Send(Text("abc")), (Bytes{0x40, 0x00, 0x03, 'a', 'b', 'c'})) << "its stream would be longer";
}

TEST_F(ZipFrames, TwentyEqualBytesGoOutCompressed)
{
    EXPECT_EQ(Send(Bytes(20, 0x61)), (Bytes{0x48, 0x00, 0x07, 0x0A, 0xDC, 0xFF, 0x61, 0x00, 0x0F, 0x61}));
}

TEST_F(ZipFrames, ThousandLiteralsMakeFiveFrames)
{
    Bytes message = Unique(1000);
    Bytes stream = LzssEncode(message);
    ASSERT_EQ(stream.size(), 1128u);
    EXPECT_EQ(Send(message), Frames(stream, true)) << "256, 256, 256, 256 and 104, no fallback";
}

TEST_F(ZipFrames, AStreamOfExactly256BytesIsOneFrame257AreTwo)
{
    Bytes m256 = MessageWithStream(256);
    ASSERT_FALSE(m256.empty());
    Bytes wire = Send(m256);
    ASSERT_EQ(wire.size(), 3u + 256u);
    EXPECT_EQ(Bytes(wire.begin(), wire.begin() + 3), (Bytes{0x48, 0x01, 0x00}));
}

TEST_F(ZipFrames, AStreamOf257BytesIsAFullFrameAndOneByte)
{
    Bytes m257 = MessageWithStream(257);
    ASSERT_FALSE(m257.empty());
    EXPECT_EQ(Send(m257), Frames(LzssEncode(m257), true));
}

TEST_F(ZipFrames, PiecesOfAnySizeGiveTheSameFrames)
{
    std::mt19937 rng(7);
    Bytes message(5000);
    for (auto &b : message) b = static_cast<uint8_t>("ABCDE  records 0123"[rng() % 19]);
    Bytes stream = LzssEncode(message);
    for (size_t piece : {size_t(0), size_t(1), size_t(17), size_t(255), size_t(4999)}) {
        EXPECT_EQ(Send(message, piece), Frames(stream, true)) << piece;
    }
}

TEST_F(ZipFrames, EveryMessageOfASessionIsCodedAfresh)
{
    // Long and short messages in turn through one compressor: each one's frames are
    // those of its own stream, whatever the one before left in the coder's trees.
    static const char *const WORDS[] = {"ACCOUNT ", "0042 ", "TRANSFER ", "OK ", "7"};
    std::mt19937 rng(11);
    short id = WireSession(socket, TURN_SEND, 2);
    uint8_t *tx = Session_Record(id)->txBuffer;
    for (size_t size : {5000u, 100u, 3000u, 200u, 4100u, 150u, 600u}) {
        std::string text;
        while (text.size() < size) text += WORDS[rng() % 5];
        Bytes message(text.begin(), text.begin() + static_cast<long>(size));
        ASSERT_EQ(ZIP_ZipFrame(id, message.data(), static_cast<uint16_t>(size), tx), ZIP_OK);
        Session_Record(id)->txEnd = 1;
        ASSERT_EQ(ZIP_ZipFlush(id, tx), ZIP_OK);
        Session_Record(id)->txEnd = 0;
        EXPECT_EQ(peer.Receive(size * 2 + 600, 300), Frames(LzssEncode(message), true)) << size;
    }
    Session_Record(id)->handle = -1;
    Session_Release(id, ReleasePause::No);
}

TEST_F(ZipFrames, EmptyMessages)
{
    short id = WireSession(socket, TURN_SEND);
    uint8_t *tx = Session_Record(id)->txBuffer;
    Session_Record(id)->txEnd = 1;
    EXPECT_EQ(ZIP_ZipFlush(id, tx), ZIP_OK);
    EXPECT_EQ(ZIP_ZipFrame(id, tx, 0, tx), ZIP_OK);
    Session_Record(id)->txEnd = 1;
    EXPECT_EQ(ZIP_ZipFlush(id, tx), ZIP_OK);
    EXPECT_EQ(peer.Receive(100, 300), (Bytes{0x40, 0x00, 0x00, 0x48, 0x00, 0x03, 0x00, 0xDC, 0xFF}))
        << "ended at once: an empty frame; empty pieces: the primer alone";
}

TEST_F(ZipFrames, UncompressedSessionsCopy)
{
    Bytes message = Unique(600);
    EXPECT_EQ(Send(message, 100, 0), Frames(message, false));
}

TEST_F(ZipFrames, AVersionChangeBreaksTheMessage)
{
    short id = WireSession(socket, TURN_SEND);
    uint8_t *tx = Session_Record(id)->txBuffer;
    Bytes part = Unique(300);
    EXPECT_EQ(ZIP_ZipFrame(id, part.data(), 300, tx), ZIP_OK);
    ZIP_SetVersion(id, 0);
    EXPECT_EQ(ZIP_ZipFrame(id, part.data(), 300, tx), ZIP_VERSION_CHANGED);
    EXPECT_EQ(ZIP_ZipFlush(id, tx), ZIP_VERSION_CHANGED);
    EXPECT_EQ(peer.Receive(600, 300).size(), 257u) << "only the frame that filled before the change";
}

TEST_F(ZipFrames, PiecesLongerThan32767BytesAreServedInParts)
{
    std::mt19937 rng(3);
    Bytes message(40000);
    for (auto &b : message) b = static_cast<uint8_t>(rng() % 4);
    EXPECT_EQ(Send(message), Frames(LzssEncode(message), true));
}

TEST_F(ZipFrames, ReadsOf32767BytesAndMoreAreServedInParts)
{
    std::mt19937 rng(5);
    Bytes message(100000);
    for (size_t i = 0; i < message.size(); ++i) message[i] = static_cast<uint8_t>(i % 4 == 0 ? rng() : 'a' + i % 17);
    short id = WireSession(socket, TURN_RECEIVE, 2);
    Bytes wire = Frames(LzssEncode(message), true);
    std::thread feeder([&] { peer.Send(wire); });
    Bytes got;
    uint8_t last = 0;
    EXPECT_EQ(Read(id, got, 32767, last), ZIP_OK) << "the first read also counts the 18 primer bytes";
    EXPECT_EQ(Read(id, got, 65535, last), ZIP_OK);
    EXPECT_EQ(Read(id, got, 1698, last), ZIP_ENDED);
    feeder.join();
    EXPECT_TRUE(got == message);
}

// A hold never leaves a message ending in an empty frame: a full plain frame waits for
// the end, whose frame then carries it.
TEST_F(ZipFrames, AHeldFullPlainFrameLeavesWithTheEnd)
{
    short id = WireSession(socket, TURN_SEND, 0);
    SessionRecord *rec = Session_Record(id);
    Bytes part = Unique(256);
    ASSERT_EQ(ZIP_ZipFrame(id, part.data(), 256, rec->txBuffer), ZIP_OK);
    rec->txHold = 1;
    rec->holdValue = 9;
    EXPECT_EQ(ZIP_ZipHold(id, rec->txBuffer), ZIP_OK);
    EXPECT_TRUE(peer.Receive(1, 200).empty()) << "the message may end here";
    rec->txEnd = 1;
    ASSERT_EQ(ZIP_ZipFlush(id, rec->txBuffer), ZIP_OK);
    EXPECT_EQ(peer.Receive(261, 300), Bytes({0x60, 0x01, 0x00, 9}) + part);
}

// A peer's frames can break a message, never a read: nothing is written past the
// request, the count never exceeds it, and a broken stream is never reported as ended.
TEST_F(ZipFrames, AHostileStreamNeverMakesAReadOverrunOrEndFalsely)
{
    Bytes stream = LzssEncode(Unique(300));
    Bytes first = Bytes{0x08} + Bytes(stream.begin(), stream.begin() + 256);
    size_t decodable = LzssDecode(Bytes(stream.begin(), stream.begin() + 256)).size();
    Bytes got;
    uint8_t last = 0;

    short id = Receiver(first + Bytes{0x48, 0x00, 0x00});
    EXPECT_EQ(Read(id, got, static_cast<uint16_t>(decodable), last), ZIP_OK);
    EXPECT_EQ(Read(id, got, 5, last), ZIP_ENDED) << "an empty last frame ends the message";
    EXPECT_EQ(got, LzssDecode(Bytes(stream.begin(), stream.begin() + 256)));
    Session_Record(id)->handle = -1;  // the connection stays for the next session
    Session_Release(id, ReleasePause::No);

    got.clear();
    id = Receiver(first + Bytes{0x40, 0x00, 0x02, 'x', 'y'});
    EXPECT_EQ(Read(id, got, 400, last), ZIP_FAILED) << "a plain frame inside a compressed message";
    EXPECT_EQ(last, 0);
    EXPECT_LE(got.size(), 400u);
}

// A peer that announced tiny frames starves a non-blocking read in the middle of the
// primer: no primer byte counts as delivered.
TEST_F(ZipFrames, ATimeOutInsideThePrimerDeliversNothing)
{
    short id = WireSession(socket, TURN_RECEIVE, 2);
    Session_Record(id)->peerFrameSize = 3;
    Session_Record(id)->blocking = 0;
    SESSION_SetTimeout(1000);
    AbortScript script;
    script.Advance(clock, 2);
    Bytes literals = {0xFF};  // eight literal spaces, then eight more, then two: the primer
    for (int group = 0; group < 3; ++group) {
        literals.insert(literals.end(), group < 2 ? 8 : 2, ' ');
        if (group < 2) literals.push_back(0xFF);
    }
    literals.insert(literals.end(), {'o', 'k'});
    peer.Send(Bytes{0x08} + Bytes(literals.begin(), literals.begin() + 3));
    Bytes got;
    uint8_t last = 0;
    EXPECT_EQ(Read(id, got, 1, last), ZIP_WOULD_BLOCK);
    EXPECT_TRUE(got.empty()) << "two primer bytes decoded, none delivered";
    Bytes rest(literals.begin() + 3, literals.end());
    Bytes wire;
    for (size_t at = 0; at < rest.size(); at += 3) {
        size_t n = std::min<size_t>(3, rest.size() - at);
        if (at + n == rest.size()) wire = wire + Bytes{0x48, 0x00, static_cast<uint8_t>(n)};
        else wire.push_back(0x08);
        wire.insert(wire.end(), rest.begin() + static_cast<long>(at), rest.begin() + static_cast<long>(at + n));
    }
    peer.Send(wire);
    EXPECT_EQ(Read(id, got, 1, last), ZIP_OK);
    EXPECT_EQ(Read(id, got, 1, last), ZIP_ENDED);
    EXPECT_EQ(got, Text("ok"));
}

TEST_F(ZipFrames, ReadsOfExactSizeReportTheEndOfTheMessage)
{
    Bytes message = Unique(300) + Bytes(60, 'Z');
    Bytes stream = LzssEncode(message);
    short id = Receiver(Frames(stream, true));
    Bytes got;
    uint8_t last = 9;
    EXPECT_EQ(Read(id, got, 300, last), ZIP_OK);
    EXPECT_EQ(last, 0);
    EXPECT_EQ(Read(id, got, 60, last), ZIP_ENDED);
    EXPECT_EQ(last, 1);
    EXPECT_EQ(got, message);
}

TEST_F(ZipFrames, AReadPastTheEndDeliversTheRestAndEnds)
{
    Bytes message = Unique(360);
    short id = Receiver(Frames(LzssEncode(message), true) + Frames(message, false));
    Bytes got;
    uint8_t last = 0;
    EXPECT_EQ(Read(id, got, 300, last), ZIP_OK);
    EXPECT_EQ(Read(id, got, 100, last), ZIP_ENDED);
    EXPECT_EQ(got, message);
    got.clear();
    EXPECT_EQ(Read(id, got, 300, last), ZIP_OK) << "the next message, uncompressed, starts afresh";
    EXPECT_EQ(Read(id, got, 100, last), ZIP_ENDED);
    EXPECT_EQ(got, message);
}

// Text repeats in matches of every length, near and far: a large read decodes it in
// whole groups straight into the host's buffer, and the bytes after the message stay
// as they were, however close the request's end is to the message's.
TEST_F(ZipFrames, AReadPastTheEndOfARepetitiveMessageTouchesOnlyTheMessage)
{
    std::mt19937 rng(7);
    static const char *words[] = {"station ", "centre ", "amount ", "of ", "the ", "balance\r\n", "frame "};
    for (size_t beyond = 1; beyond <= 40; ++beyond) {
        std::string text;
        while (text.size() < 1500 + beyond) text += words[rng() % 7];
        Bytes message = Text(text);
        short id = Receiver(Frames(LzssEncode(message), true));
        Bytes got;
        uint8_t last = 0;
        EXPECT_EQ(Read(id, got, static_cast<uint16_t>(message.size() + beyond), last), ZIP_ENDED);
        EXPECT_EQ(got, message);
        Session_Record(id)->handle = -1;  // the connection stays for the next message
        Session_Release(id, ReleasePause::No);
    }
}

TEST_F(ZipFrames, OneBytePerCallEndsOnlyAtTheLastByte)
{
    Bytes message = Bytes(100, 'x') + Unique(300);
    short id = Receiver(Frames(LzssEncode(message), true));
    Bytes got;
    uint8_t last = 0;
    for (size_t i = 0; i + 1 < message.size(); ++i) ASSERT_EQ(Read(id, got, 1, last), ZIP_OK) << i;
    EXPECT_EQ(Read(id, got, 1, last), ZIP_ENDED);
    EXPECT_EQ(got, message);
}

TEST_F(ZipFrames, EmptyAndPrimerOnlyMessages)
{
    short id = Receiver(Bytes{0x40, 0x00, 0x00, 0x48, 0x00, 0x03, 0x00, 0xDC, 0xFF, 0x40, 0x00, 0x01, 'k'});
    Bytes got;
    uint8_t last = 0;
    EXPECT_EQ(Read(id, got, 5, last), ZIP_ENDED) << "an empty message ends at once, compression on or not";
    EXPECT_TRUE(got.empty());
    EXPECT_EQ(Read(id, got, 5, last), ZIP_ENDED) << "the primer alone";
    EXPECT_TRUE(got.empty());
    EXPECT_EQ(Read(id, got, 5, last), ZIP_ENDED);
    EXPECT_EQ(got, Text("k"));
}

TEST_F(ZipFrames, ARequestForNothingKeepsTheFirstFrame)
{
    Bytes message = Bytes(50, 'y');
    short id = Receiver(Frames(LzssEncode(message), true));
    Bytes got;
    uint8_t last = 0;
    EXPECT_EQ(Read(id, got, 0, last), ZIP_OK);
    EXPECT_EQ(Read(id, got, 50, last), ZIP_ENDED);
    EXPECT_EQ(got, message);
}

TEST_F(ZipFrames, VersionRecords)
{
    uint8_t version = 7;
    EXPECT_EQ(ZIP_GetVersion(42, &version), -1);
    EXPECT_EQ(version, 0);
    ASSERT_EQ(ZIP_ZipCreate(42, 256), ZIP_OK);
    EXPECT_EQ(ZIP_GetVersion(42, &version), 0);
    EXPECT_EQ(version, 2);
    EXPECT_EQ(ZIP_ZipDelete(42), ZIP_OK);
    EXPECT_EQ(ZIP_ZipDelete(42), ZIP_FAILED);
    EXPECT_EQ(ZIP_UnzipDelete(42), ZIP_FAILED);
}

}  // namespace

