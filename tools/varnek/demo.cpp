// `varnek demo`: a listener and a caller in one process on loopback, with a relay
// between them that prints every session frame crossing the wire.  The stations use the
// public API only; the relay uses the library's own socket layer.
#include "demo.h"
#include "pcap.h"

#include <atomic>
#include <cstdlib>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>

#include "serial.h"
#include "shared/environment.h"
#include "shared/wire.h"
#include "station.h"
#include "varnek_debug.h"

#ifndef _WIN32
#include "shared/cable.h"
#endif

namespace {

const char *DEMO_HELP =
    "usage: varnek demo [--pcap FILE] [--serial-pcap FILE]\n"
    "\n"
    "Starts a listener and a caller in this process on loopback and lets them hold a\n"
    "scripted conversation: a short message (sent plain, its compressed form would be\n"
    "longer), records and text that compress, a message written in two parts around a\n"
    "hold, an answer read word by word, and the close.  A relay between the two prints\n"
    "every session frame on the wire.  Needs no argument and no set-up.\n"
    "  --pcap FILE         write the TCP act to FILE as a capture: one TCP segment per\n"
    "                      session frame, the caller shown as 127.0.0.1 port 40000 and the\n"
    "                      listener as 127.0.0.1 port 5005\n"
    "  --serial-pcap FILE  write the serial act to FILE: every link frame of the station's\n"
    "                      port, both ways (Wireshark: tools/wireshark/*.lua)\n";

const uint8_t LOOPBACK[4] = {127, 0, 0, 1};

// Splits a byte stream into session frames and prints each.
class FrameWatcher {
public:
    // Each whole frame also goes to capture, as a segment of side, when capture is given.
    FrameWatcher(const char *direction, PcapTcp *capture, int side)
        : direction_(direction), capture_(capture), side_(side)
    {
    }

    void Feed(const uint8_t *data, size_t n)
    {
        for (size_t i = 0; i < n; ++i) {
            if (cutter_.Push(data[i])) Print(cutter_.Frame());
        }
    }

private:
    void Print(const Bytes &frame)
    {
        char flags[32];
        VKD_FrameFlags(frame[0], flags, sizeof flags);
        size_t header = VKD_FrameHeaderLength(frame[0]);
        printf("    wire %s frame [%s] header %zu, payload %zu:", direction_, flags, header, frame.size() - header);
        for (size_t i = 0; i < frame.size() && i < 24; ++i) printf(" %02X", frame[i]);
        printf("%s\n", frame.size() > 24 ? " ..." : "");
        if (capture_ != nullptr) PcapTcp_Segment(*capture_, side_, frame.data(), frame.size());
    }

    const char *direction_;
    PcapTcp *capture_;
    int side_;
    SessionFrameCutter cutter_;
};

// Accepts the caller on one port and connects it to the listener's port.
void Relay(int32_t listenSocket, uint16_t target, std::atomic<bool> &stop, PcapTcp *capture)
{
    int32_t caller = VKD_NetAccept(listenSocket);
    int32_t listener = VKD_NetSocket();
    if (VKD_NetConnect(listener, LOOPBACK, target) != 0) VKD_NetConnectResult(listener, 3000);
    FrameWatcher up("caller -> listener", capture, 0), down("listener -> caller", capture, 1);
    uint8_t buffer[4096];
    while (!stop) {
        bool moved = false;
        for (int side = 0; side < 2; ++side) {
            int32_t from = side == 0 ? caller : listener;
            int32_t to = side == 0 ? listener : caller;
            if (VKD_NetWait(from, 0, 5) != 1) continue;
            int n = VKD_NetRecv(from, buffer, sizeof buffer);
            if (n <= 0) {
                stop = true;
                break;
            }
            (side == 0 ? up : down).Feed(buffer, static_cast<size_t>(n));
            for (int sent = 0; sent < n;) {
                VKD_NetWait(to, 1, 100);
                int k = VKD_NetSend(to, buffer + sent, static_cast<size_t>(n - sent));
                if (k > 0) sent += k;
            }
            moved = true;
        }
        if (moved) fflush(stdout);
    }
    VKD_NetClose(caller);
    VKD_NetClose(listener);
}

void Step(const char *text)
{
    printf("\n%s\n", text);
    fflush(stdout);
}

Bytes Text(const std::string &s) { return Bytes(s.begin(), s.end()); }

Bytes Records(int n)
{
    Bytes out;
    for (int i = 0; i < n; ++i) {
        char rec[96];
        snprintf(rec, sizeof rec, "%06d|STATION-7|PAYMENT  |%08d|ACCEPTED|2026-12-05|%-15s|", 100 + i, 2500 * (i % 7),
                 i % 2 ? "CARD" : "CASH");
        out.insert(out.end(), rec, rec + strlen(rec));
    }
    return out;
}

// The listener's side of the script, on the address and service of params.
void ListenerScript(SessionOpenParams params, StationOptions opt)
{
    short id = -1;
    Session_Create(&id);
    SetField(params.localName, "CENTRE-DEMO");
    SessionPeerInfo peer{};
    if (Session_WaitForOpen(id, &params, &peer) != VK_DONE) return;
    printf("  listener: opened by '%.16s'\n", peer.localName);
    for (;;) {
        Bytes body;
        short rc = ReceiveMessage(id, body, opt);
        if (rc == VK_CLOSED) {
            printf("  listener: read the last message (%s), result 3: the caller closed\n", Describe(body).c_str());
            return;
        }
        if (rc != VK_TURN) {
            printf("  listener: session ended (%d)\n", rc);
            return;
        }
        printf("  listener: received %s\n", Describe(body).c_str());
        Session_TxWord(id, 258);
        Session_TxLong(id, static_cast<uint32_t>(body.size()));
        Session_EOM(id);
        printf("  listener: answered with the word 258 and the long word %zu\n", body.size());
        fflush(stdout);
    }
}

// Reads the listener's answer: a word and a long word that ends the message.
void ReadAnswer(short id)
{
    uint16_t word = 0;
    uint32_t count = 0;
    short rc = Session_RxWord(id, &word);
    short rc2 = Session_RxLong(id, &count);
    printf("  caller: Session_RxWord -> %d, value %u; Session_RxLong -> %d (end of message, our turn), value %u\n", rc,
           word, rc2, count);
}

// Prints each link frame of a byte stream, with the application block it carries.
class LinkWatcher {
public:
    explicit LinkWatcher(const char *direction) : direction_(direction) {}
    void Feed(const uint8_t *data, size_t n)
    {
        for (size_t i = 0; i < n; ++i) {
            if (cutter_.Push(data[i])) Print(cutter_.Frame());
        }
    }

private:
    void Print(Bytes frame)  // a copy: decoding works in place
    {
        uint8_t out[VKD_LINK_FRAME_MAX];
        uint16_t length = sizeof out, header = 0;
        uint16_t status = LINK_Decode(out, frame.data(), static_cast<uint16_t>(frame.size()), &length, &header);
        char text[64], block[64] = "";
        VKD_LinkFrameText(static_cast<uint8_t>(header), length, text);
        if (status == 0 && length >= 2) VKD_BlockText(out, length, block);
        printf("    line %s %zu bytes: %s%s%s\n", direction_, frame.size(), text, block[0] ? " | " : "", block);
    }
    const char *direction_;
    LinkFrameCutter cutter_;
};

// Steps 2 to 4 of the script, the same on every line.
void Conversation(short id, const StationOptions &opt)
{
    Step("2. A short message: its compressed form would be longer, so it travels plain.");
    SendMessage(id, Text("hello, centre"), opt);
    ReadAnswer(id);

    Step("3. 40 transaction records: compressed, cut into frames of 256 bytes.");
    SendMessage(id, Records(40), opt);
    ReadAnswer(id);

    Step("4. A message written in two parts around a hold: the full frames go out at once");
    printf("   with the hold byte; the peer reads both parts as one message.\n");
    Bytes text;
    for (uint32_t x = 12345; text.size() < 700;) {  // letters that hardly repeat
        x = x * 1103515245u + 12345u;
        text.push_back(static_cast<uint8_t>('a' + (x >> 16) % 26));
    }
    Session_TxLong(id, static_cast<uint32_t>(text.size() * 2));
    Session_TxStruct(id, text.data(), static_cast<uint16_t>(text.size()));
    printf("  caller: Session_Hold(7) -> %d\n", Session_Hold(id, 7));
    Session_TxStruct(id, text.data(), static_cast<uint16_t>(text.size()));
    Session_EOM(id);
    ReadAnswer(id);

}

}  // namespace

int SerialAct(const StationOptions &opt, const char *program, const std::string &pcap)
{
    printf("\n\nSecond act: the same conversation over a serial line with the link protocol\n");
#ifdef _WIN32
    printf("(two ports of this process joined in memory)\n");
    SetEnvironment("DRUMMEL_PORT1", "mem:demo");
    SetEnvironment("DRUMMEL_PORT2", "mem:demo");
#else
    // Each station opens a real /dev/pts device; the link frames are printed as they pass.
    LinkWatcher fromA("centre -> station"), fromB("station -> centre");
    Cable cable([&](int from, const uint8_t *data, size_t n) {
        (from == 0 ? fromA : fromB).Feed(data, n);
        fflush(stdout);
    });
    printf("(a pseudo-terminal pair joined like a null-modem cable: %s and %s)\n", cable.a.path.c_str(),
           cable.b.path.c_str());
    SetEnvironment("DRUMMEL_PORT1", cable.a.path);
    SetEnvironment("DRUMMEL_PORT2", cable.b.path);
#endif
    if (!pcap.empty()) CaptureSerialPort(2, pcap);
    if (!OpenSerialPort(1, "", program) || !OpenSerialPort(2, "", program)) {
        printf("the serial ports did not open\n");
        return EXIT_OPEN;
    }
    LINKAPI_NuRecSize(1, 8740);
    std::thread centre([&] {
        if (!CentreLogIn(1)) return;
        SessionOpenParams params{};
        SetField(params.localAddress, "1");
        ListenerScript(params, opt);
    });
    Step("1. The station opens serial port 2: the centre greets, the station answers with its\n"
         "   71-byte log-in record, the centre acknowledges, then the open frames pass.");
    short id = -1;
    Session_Create(&id);
    SessionOpenParams params{};
    SetField(params.localName, "STATION-7");
    SetField(params.remoteAddress, "2");
    params.service = 5005;
    SessionPeerInfo peer{};
    short rc = Session_Open(id, &params, &peer);
    printf("  caller: Session_Open -> %d, peer '%.16s'\n", rc, peer.localName);
    if (rc == VK_OPENED) {
        Conversation(id, opt);
        Step("5. The caller closes: the last message carries the close mark.");
        rc = SendMessage(id, Bytes(), opt, true);
        printf("  caller: Session_Close -> %d\n", rc);
    }
    centre.join();
    LINK_Close(1);
    LINK_Close(2);
    return rc == VK_DONE ? EXIT_OK : EXIT_SESSION;
}

int Demo(const std::vector<std::string> &words, const char *program)
{
    std::string tcpPcap, serialPcap;
    for (size_t i = 0; i < words.size(); ++i) {
        bool valued = i + 1 < words.size();
        if (words[i] == "--pcap" && valued) tcpPcap = words[++i];
        else if (words[i] == "--serial-pcap" && valued) serialPcap = words[++i];
        else {
            bool help = words[i] == "--help" || words[i] == "-h";
            fputs(DEMO_HELP, help ? stdout : stderr);
            return help ? EXIT_OK : EXIT_USAGE;
        }
    }
    PcapTcp capture;
    if (!tcpPcap.empty() && !PcapTcp_Open(capture, tcpPcap)) {
        fprintf(stderr, "varnek demo: cannot write %s\n", tcpPcap.c_str());
        return EXIT_FILE;
    }
    Session_Reset();
    PCTCP_Open();
    InstallStatusDisplay("  ");
    StationOptions opt;
    opt.quiet = true;

    uint16_t listenerPort = 0, relayPort = 0;
    int32_t relaySocket = VKD_NetSocket();
    VKD_NetBind(relaySocket, LOOPBACK, 0);
    VKD_NetListen(relaySocket, 1);
    relayPort = VKD_NetLocalPort(relaySocket);
    {
        int32_t probe = VKD_NetSocket();
        VKD_NetBind(probe, LOOPBACK, 0);
        listenerPort = VKD_NetLocalPort(probe);
        VKD_NetClose(probe);
    }
    printf("varnek demo: a listener on 127.0.0.1:%u, a caller, and a relay on port %u between them\n",
           static_cast<unsigned>(listenerPort), static_cast<unsigned>(relayPort));

    SessionOpenParams listenParams{};
    SetField(listenParams.localAddress, "127.000.000.001");
    listenParams.service = listenerPort;
    std::thread listener(ListenerScript, listenParams, opt);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));  // let the listener bind
    std::atomic<bool> stop{false};
    std::thread relay(Relay, relaySocket, listenerPort, std::ref(stop), tcpPcap.empty() ? nullptr : &capture);

    Step("1. The caller opens the session: both sides send a 42-byte open frame.");
    short id = -1;
    Session_Create(&id);
    SessionOpenParams params{};
    SetField(params.localName, "STATION-7");
    SetField(params.remoteName, "CENTRE-DEMO");
    SetField(params.remoteAddress, "127.000.000.001");
    params.service = relayPort;
    SessionPeerInfo peer{};
    short rc = Session_Open(id, &params, &peer);
    printf("  caller: Session_Open -> %d, peer '%.16s'\n", rc, peer.localName);
    if (rc != VK_OPENED) {
        stop = true;
        relay.join();
        listener.join();
        PcapTcp_Close(capture);
        return EXIT_OPEN;
    }

    Conversation(id, opt);
    Step("5. The caller closes: the last message carries the close mark.");
    rc = SendMessage(id, Bytes(), opt, true);
    printf("  caller: Session_Close -> %d\n", rc);
    listener.join();
    stop = true;
    relay.join();
    PcapTcp_Close(capture);
    VKD_NetClose(relaySocket);
    PCTCP_Close();
    if (rc != VK_DONE) return EXIT_SESSION;
    int serial = SerialAct(opt, program, serialPcap);
    printf("\ndemo done.\n");
    return serial;
}
