// Writes the seed corpora of the fuzz targets from real traffic of the library: the
// frames a session puts on a loopback connection for a few conversations, the link
// frames and application blocks that carry them, a recorded script.
//   fuzz_seeds DIR      (fuzz/corpus in the repository)
#include <cstdio>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <vector>

#include "link/frame.h"
#include "session/frame_header.h"
#include "session/session.h"
#include "support/bytes.h"
#include "support/session_wiring.h"
#include "support/tcp_peer.h"
#include "zip/zip.h"

namespace {

std::string root;

void Write(const std::string &target, const std::string &name, const Bytes &bytes)
{
    std::string dir = root + "/" + target;
    mkdir(dir.c_str(), 0755);
    FILE *f = fopen((dir + "/" + name).c_str(), "wb");
    if (f == nullptr) return;
    fwrite(bytes.data(), 1, bytes.size(), f);
    fclose(f);
}

Bytes operator+(Bytes a, const Bytes &b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

Bytes Frame(uint8_t header, const Bytes &data)
{
    Bytes out(LinkFrameMax(static_cast<unsigned>(data.size())));
    out.resize(LINK_Encode(out.data(), header, data.data(), static_cast<uint16_t>(data.size())));
    return out;
}

// What a session sends: its open frame, then each message (a run, a hold, the end), the
// last one ended by a close or an abort.
Bytes Conversation(uint8_t version, bool abortAtEnd)
{
    TcpPeer peer;
    short id = WireSession(peer.ConnectLibrary(), TURN_SEND, version);
    SessionRecord *rec = Session_Record(id);
    rec->txOpen = rec->txEnd = 1;
    memcpy(rec->localName, "STATION", 7);
    rec->service = 5005;
    Session_SendFrame(id, 0, 1, 0);
    const char *texts[] = {"hello centre", "a record a record a record a record a record"};
    for (const char *text : texts) {
        Session_Record(id)->turn = TURN_SEND;
        Session_TxStruct(id, text, static_cast<uint16_t>(strlen(text)));
        Session_Hold(id, 7);
        Session_TxLong(id, 0x01020304);
        Session_EOM(id);
    }
    Session_Record(id)->turn = TURN_SEND;
    Bytes big(700);
    for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<uint8_t>(i % 5 == 0 ? i : 'r');
    Session_TxStruct(id, big.data(), static_cast<uint16_t>(big.size()));
    if (abortAtEnd) Session_SendAbort(id, 2, "operator stop");
    else Session_Close(id);
    return peer.Receive(8192, 500);
}

// Session frames split into (flags, length, payload) as the decompressor's target reads
// them.
Bytes AsUnzipFrames(const Bytes &wire)
{
    Bytes out;
    size_t at = FrameHeader_Length(SF_OPEN | SF_END);  // past the open frame
    while (at < wire.size()) {
        uint8_t flags = wire[at];
        if (at + FrameHeader_Length(flags) > wire.size()) break;
        FrameHeader h;
        at += FrameHeader_Decode(&wire[at], &h);
        size_t length = (flags & SF_END) ? h.payloadLength : SESSION_FRAME_PAYLOAD;
        if (at + length > wire.size()) break;
        out.push_back(flags & (SF_END | SF_PACKED));
        out.push_back(static_cast<uint8_t>(length));  // lengths above 255 are cut: still a seed
        out.insert(out.end(), wire.begin() + static_cast<long>(at), wire.begin() + static_cast<long>(at + length));
        at += length;
    }
    return out;
}

// Link data frames carrying application blocks of the wire bytes, in the bridge
// target's form (a length byte, then the block).
Bytes AsBlocks(const Bytes &wire)
{
    Bytes out;
    uint16_t blockNo = 2;
    for (size_t at = 0; at < wire.size(); at += 100, ++blockNo) {
        size_t n = std::min<size_t>(100, wire.size() - at);
        Bytes block = {0x22, 0x24, 0, 0};
        Bytes_PutBE16(&block[2], blockNo);
        block.insert(block.end(), wire.begin() + static_cast<long>(at), wire.begin() + static_cast<long>(at + n));
        out.push_back(static_cast<uint8_t>(block.size()));
        out = out + block;
    }
    return out;
}

Bytes ScriptRecord(const Bytes &frame)
{
    Bytes r = {2, 0, 0, 0, 0};
    Bytes_PutLE32(&r[1], static_cast<uint32_t>(frame.size()));
    return r + frame;
}

}  // namespace

int main(int argc, char **argv)
{
    if (argc != 2) {
        fprintf(stderr, "usage: fuzz_seeds DIR\n");
        return 1;
    }
    root = argv[1];
    mkdir(root.c_str(), 0755);
    SocketService service;
    Session_Reset();
    Bytes reads(16, 0);
    for (int i = 0; i < 8; ++i) reads[2 * i + 1] = static_cast<uint8_t>(4 + 8 * i);
    for (uint8_t version : {0, 2}) {
        Bytes closed = Conversation(version, false);
        Bytes aborted = Conversation(version, true);
        std::string v = std::to_string(version);
        Write("session_rx", "close-v" + v, Bytes{static_cast<uint8_t>(version ? 2 : 0)} + reads + closed);
        Write("session_rx", "abort-v" + v, Bytes{static_cast<uint8_t>(version ? 7 : 5)} + reads + aborted);
        Write("unzip", "close-v" + v, Bytes{static_cast<uint8_t>(version ? 3 : 2), 0, 12} + AsUnzipFrames(closed));
        Write("bridge", "session-v" + v, Bytes{2, 4, 12, 20, 28, 36, 44, 52, 60} + AsBlocks(closed));
    }
    Write("bridge", "login", Bytes{0, 0, 0, 0, 0, 0, 0, 0, 0, 10, 0x22, 0x24, 0, 1, 2, 0, 0, 0, 0, 0, 4, 0x22, 0x24, 0, 2});
    Write("bridge", "reads", Bytes{1, 1, 2, 0xFF, 3, 0, 0, 0, 0, 8, 0x22, 0x24, 0, 2, 'a', 'b', 'c', 'd', 0x83, 0x12, 0x41, 0x0D});
    Bytes ack = Frame(0x81, {});
    Bytes data = Frame(0xC8, {0x0D, 0x10, 'x'});
    Write("link_frame", "ack", Bytes{16} + ack);
    Write("link_frame", "stuffed", Bytes{3} + data);
    Write("link_frame", "noise", Bytes{64, 'n', 'o', 0x12} + data);
    Write("script", "recorded", Bytes{20} + Bytes{'p', 'o', 'r', 't', '=', '3', ' ', 'm', 'o', 'd', 'e', '=', 'W', 'r', 'i',
                                                  't', 'e', ' ', ' ', ' '} +
                                    ScriptRecord(ack) + ScriptRecord(data) + ScriptRecord({}) +
                                    Bytes{1, 4, 0, 0, 0, 1, 0, 0, 0, 7, 3, 0, 0, 0, 1, 2, 3});
    for (const char *type : {"%d%l", "%fd", "%b, %fb %l", "%f", "%x"}) {
        Write("byteswap", std::string("type-") + std::to_string(strlen(type)) + (type[1] == 'f' ? "f" : ""),
              Bytes{6} + Bytes(type, type + strlen(type)));
    }
    Session_Reset();
    return 0;
}
