// varnek - a command-line station: listen for a caller, call a station, or watch a
// scripted conversation on loopback.
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <thread>
#include <vector>

#include "address.h"
#include "allow.h"
#include "demo.h"
#include "events.h"
#include "load.h"
#include "pcap.h"
#include "reasons.h"
#include "serial.h"
#include "serve.h"
#include "service.h"
#include "serial_options.h"
#include "station.h"
#include "varnek_debug.h"

#ifndef VARNEK_VERSION
#define VARNEK_VERSION "unknown"
#endif

namespace {

const char *USAGE =
    "usage: varnek COMMAND [OPTIONS]\n"
    "\n"
    "commands:\n"
    "  listen [HOST]:PORT    wait for callers and answer their messages (':5005' or '5005':\n"
    "                        every local address)\n"
    "  listen --serial N     the same on serial port N\n"
    "  call HOST:PORT        call a station, send messages, print the answers, close\n"
    "  call --serial N       the same on serial port N (--p2p: without a centre log-in)\n"
    "  centre --serial N     a centre: greets, checks the log-in record, then listens\n"
    "  load ADDRESS:PORT     many stations at once against an echoing listener\n"
    "  script dump FILE      every record of a link script file, one line each\n"
    "  script pcap FILE      the frames of a link script file as a pcap capture, on\n"
    "                        standard output (Wireshark: tools/wireshark/varnek_link.lua)\n"
    "  demo                  scripted conversations between two stations, over TCP and\n"
    "                        over a serial line with the link protocol\n"
    "  --version             the version of this build\n"
    "\n"
    "'varnek COMMAND --help' tells more.  Exit codes: 0 done, 1 usage, 2 the session did\n"
    "not open, 3 the session failed or was aborted, 4 a file could not be read or written.\n";

const char *LISTEN_HELP =
    "usage: varnek listen [HOST]:PORT [OPTIONS]\n"
    "       varnek listen --serial N [--line SPEC] [OPTIONS]\n"
    "       varnek centre --serial N [--line SPEC] [OPTIONS]\n"
    "\n"
    "Waits on HOST:PORT (a host name or an IPv4 address of this machine; ':5005' or\n"
    "'5005' is every local address), or on serial port N, for callers and prints every\n"
    "message received.  A centre first sends its greeting, checks the caller's log-in\n"
    "record and answers it.  The serial port's line is DRUMMEL_PORT<N>, or SPEC\n"
    "(/dev/ttyUSB0, tcp:HOST:PORT, tcp-listen:PORT ...).\n"
    "Each message is answered with a short acknowledgement, unless:\n"
    "  --echo              answer with the message itself\n"
    "  --reply FILE        answer with the contents of FILE\n"
    "  --save DIR          also store each message as DIR/message-N.bin\n"
    "options:\n"
    "  --name N            this station's name in the open frame\n"
    "  --count N           serve N callers, then exit (failed opens count; default:\n"
    "                      serve forever)\n"
    "  --parallel N        serve up to N callers at once, a thread each (TCP only)\n"
    "  --allow FILE        only the station names and source networks (CIDR) in FILE may\n"
    "                      open a session; others are aborted with a reason\n"
    "  --shutdown-text T   what stations in a session are shown when SIGINT or SIGTERM\n"
    "                      ends the listener (default \"Centre shutting down\")\n"
    "  --json              one JSON object per event on standard output\n"
    "  --abort-after N T   abort the session with reason T after N messages\n"
    "  --delay MS          wait MS milliseconds before each answer\n"
    "  --pieces SEED       read in pieces of random sizes (seeded)\n"
    "  --no-compress       offer compression version 0\n"
    "  --pcap FILE         record the serial port's link frames, both ways, in FILE\n"
    "  --baud B --data-bits D --parity P --stop-bits S --flow F --char-wait MS\n"
    "                      the serial line's settings (see 'varnek ports --help')\n"
    "  -v                  trace every library call on standard error\n"
    "A failed open or a failed session is reported with a status line and the listener\n"
    "goes on with the next caller; the exit code then tells the last failure.\n";

const char *CALL_HELP =
    "usage: varnek call HOST:PORT [OPTIONS]\n"
    "       varnek call --serial N [--line SPEC] [--p2p] [--service S] [OPTIONS]\n"
    "\n"
    "Calls the station at HOST:PORT (e.g. localhost:5005 or 10.0.0.7:5005), or over\n"
    "serial port N (logging in to a centre, naming service S, unless --p2p), sends each\n"
    "message given, prints each answer, and closes the session.\n"
    "  --send FILE         send the contents of FILE (may be repeated)\n"
    "  --text T            send the text T (may be repeated)\n"
    "options:\n"
    "  --name N            this station's name in the open frame\n"
    "  --no-compress       offer compression version 0 (both sides then send plain)\n"
    "  --abort T           abort with reason T instead of closing\n"
    "  --nbm               non-blocking receives: print each time-out, then go on\n"
    "  --timeout MS        receive time-out (default 60000)\n"
    "  --pieces SEED       write and read in pieces of random sizes (seeded)\n"
    "  --save DIR          store each answer as DIR/answer-N.bin\n"
    "  --pcap FILE         record the serial port's link frames, both ways, in FILE\n"
    "  --json              one JSON object per event on standard output\n"
    "  --baud B --data-bits D --parity P --stop-bits S --flow F --char-wait MS\n"
    "                      the serial line's settings (see 'varnek ports --help')\n"
    "  -v                  trace every library call on standard error\n";

struct Args {
    std::vector<std::string> words;
    size_t at = 0;
    bool More() const { return at < words.size(); }
    std::string Next() { return at < words.size() ? words[at++] : std::string(); }
};

bool IsHelp(const std::string &w) { return w == "--help" || w == "-h"; }

int Usage(const char *text, int code)
{
    fputs(text, code == EXIT_OK ? stdout : stderr);
    return code;
}

// A one-line error of the command line or its files.
int Refuse(const char *command, const std::string &why, int code)
{
    fprintf(stderr, "varnek %s: %s\n", command, why.c_str());
    return code;
}

void SetName(SessionOpenParams &params, const std::string &name) { SetField(params.localName, name); }

std::string PeerName(const SessionPeerInfo &peer)
{
    return std::string(peer.localName, strnlen(peer.localName, sizeof peer.localName));
}

std::string Id(short id) { return "session " + std::to_string(id); }

long Seconds(time_t since) { return static_cast<long>(time(nullptr) - since); }

void StartLibrary(bool noCompress)
{
    Session_Reset();
    PCTCP_Open();
    if (noCompress) VKD_SetOfferedVersion(0);
}

unsigned Compression(short id)
{
    uint8_t version = 0;
    ZIP_GetVersion(static_cast<uint16_t>(id), &version);
    return version;
}

// A session ended by VK_FAIL: the peer's abort, this side's stop, or a failure.
void ReportSessionFailure(short id, const char *peerRole)
{
    std::string status = Events_LastStatus();
    if (Service_Stopping()) {
        std::string why = std::string("shutting down on ") + Service_Signal();
        Event("aborted").Int("session", id).Str("by", "this side").Str("text", Service_ShutdownText()).Str("reason", why)
            .Emit(Id(id) + ": aborted (" + why + "): " + Service_ShutdownText());
    } else if (!status.empty() && !Reason_IsLibraryText(status)) {
        Event("aborted").Int("session", id).Str("by", "peer").Str("text", status)
            .Emit(Id(id) + ": aborted by the " + peerRole + ": " + status);
    } else {
        std::string reason = Reason_ForStatus(status);
        Event("failed").Int("session", id).Str("stage", "session").Int("result", VK_FAIL).Str("text", status)
            .Str("reason", reason).Emit(Id(id) + ": ended by a failure: " + reason);
    }
}

constexpr long LISTEN_MOST_PARALLEL = 500;  // one session slot each

struct ListenConfig {
    SessionOpenParams params{};
    StationOptions opt;
    enum { ACK, ECHO, REPLY } answer = ACK;
    Bytes reply;
    std::string saveDir;
    long count = -1;
    long abortAfter = -1;
    std::string abortText;
    long delayMs = 0;
    bool tcp = true;
    AllowList allow;
    long parallel = 0;
    std::atomic<long> saved{0};
};

enum class Served { Session, NoCaller, Stop };

// The caller's source address (TCP), read from the session's socket.
bool SourceAddress(short id, uint8_t addr[4])
{
    return VKD_SessionPeerAddress(id, addr) == 1;
}

// Aborts a caller that the allow file does not list; true when it was refused.
bool RefusedByAllowList(const ListenConfig &cfg, short id, const std::string &name, const uint8_t *addr, bool known)
{
    std::string text = cfg.tcp && !known && !cfg.allow.networks.empty() ? "Caller address unknown"
                                                                         : Allow_Check(cfg.allow, name, addr);
    if (text.empty()) return false;
    short rc = Service_Abort(id, text.c_str());
    Event refused("refused");
    refused.Int("session", id).Str("peer", name).Str("text", text).Int("result", rc);
    if (known) refused.Str("address", Address_Dotted(addr));
    refused.Emit(Id(id) + ": refused '" + name + "'" + (known ? " from " + Address_Dotted(addr) : "") + ": " + text);
    return true;
}

// Ends the session in progress with the shutdown text.
void ShutDownSession(short id)
{
    short rc = Service_Abort(id, Service_ShutdownText().c_str());
    std::string why = std::string("shutting down on ") + Service_Signal();
    Event("aborted").Int("session", id).Str("by", "this side").Str("text", Service_ShutdownText()).Str("reason", why)
        .Int("result", rc).Emit(Id(id) + ": aborted (" + why + "): " + Service_ShutdownText());
}

// The messages of one open session, until it ends.
void Converse(ListenConfig &cfg, short id, int &exitCode)
{
    for (long n = 1;; ++n) {
        if (Service_Stopping()) return ShutDownSession(id);
        Bytes body;
        Events_ClearStatus();
        short rc = ReceiveMessage(id, body, cfg.opt);
        if (rc == VK_FAIL) {
            ReportSessionFailure(id, "caller");
            if (!Service_Stopping()) exitCode = EXIT_SESSION;
            return;
        }
        if (rc == VK_CLOSED) {
            Event("closed").Int("session", id).Str("by", "peer").Int("result", rc).Emit(Id(id) + ": closed by the caller");
            return;
        }
        Event("message").Int("session", id).Int("n", n).Int("bytes", static_cast<long long>(body.size()))
            .Emit(Id(id) + ": message " + std::to_string(n) + ": " + Describe(body));
        if (!cfg.saveDir.empty() && !WriteFile(cfg.saveDir + "/message-" + std::to_string(++cfg.saved) + ".bin", body)) {
            exitCode = EXIT_FILE;
        }
        if (cfg.abortAfter == n) {
            rc = Service_Abort(id, cfg.abortText.c_str());
            Event("aborted").Int("session", id).Str("by", "this side").Str("text", cfg.abortText).Int("result", rc)
                .Emit(Id(id) + ": aborted (" + std::to_string(rc) + ")");
            exitCode = EXIT_SESSION;
            return;
        }
        if (cfg.delayMs > 0 && !Service_Sleep(cfg.delayMs)) continue;  // a stop came: the loop's top ends it
        std::string ack = "received " + std::to_string(body.size()) + " bytes";
        const Bytes &answer = cfg.answer == ListenConfig::ECHO    ? body
                              : cfg.answer == ListenConfig::REPLY ? cfg.reply
                                                                  : Bytes(ack.begin(), ack.end());
        if (SendMessage(id, answer, cfg.opt) != VK_DONE) {
            ReportSessionFailure(id, "caller");
            if (!Service_Stopping()) exitCode = EXIT_SESSION;
            return;
        }
        Event("answer").Int("session", id).Int("n", n).Int("bytes", static_cast<long long>(answer.size())).Emit("");
    }
}

// Slots of refused or failed sessions stay stamped for 30 seconds, so a burst of
// callers that are turned away could use up the automatic choice; a free slot is then
// taken by its number, which ignores the stamp.
bool CreateInStampedSlot(short &id)
{
    for (short slot = 0; slot < 500; ++slot) {
        if (VKD_SessionExists(slot)) continue;
        id = slot;
        if (Session_Create(&id) == VK_DONE) return true;
    }
    id = -1;
    return false;
}

// One session of a listener.  A failed passive open leaves the session created, and
// the next wait uses it again.
// A worker's slot: its own (parallel; kept with its prepared session after a failed
// open), or, serving one at a time, the library's choice or any free one.
bool TakeSlot(short &id)
{
    if (id >= 0) return VKD_SessionExists(id) || Session_Create(&id) == VK_DONE;
    return Session_Create(&id) == VK_DONE || CreateInStampedSlot(id);
}

Served ServeOne(ListenConfig &cfg, short &id, int &exitCode)
{
    if (!TakeSlot(id)) {
        Event("failed").Str("stage", "create").Int("result", VK_FAIL).Str("reason", "no free session slot")
            .Emit("no free session slot");
        exitCode = EXIT_OPEN;
        return Served::Stop;
    }
    SessionPeerInfo peer{};
    SessionOpenParams params = cfg.params;
    Events_ClearStatus();
    Service_NewSession();
    Service_Waiting(true);
    short rc = Session_WaitForOpen(id, &params, &peer);
    Service_Waiting(false);
    Trace(cfg.opt, "Session_WaitForOpen(%d) -> %d", id, rc);
    if (rc != VK_DONE) {
        if (Service_Stopping()) return Served::Stop;
        std::string status = Events_LastStatus();
        std::string reason = status.empty() ? "the caller went away, or its open frame was not of protocol version 4 "
                                              "or later: not a station of this protocol"
                                            : Reason_ForStatus(status);
        Event("failed").Int("session", id).Str("stage", "open").Int("result", rc).Str("text", status).Str("reason", reason)
            .Emit(Id(id) + ": a caller's open failed: " + reason);
        return Served::NoCaller;
    }
    std::string name = PeerName(peer);
    uint8_t addr[4] = {};
    bool known = SourceAddress(id, addr);
    Event opened("opened");
    opened.Int("session", id).Str("peer", name).Int("service", params.service).Int("option", params.serviceOption)
        .Int("compression", Compression(id));
    if (known) opened.Str("address", Address_Dotted(addr));
    opened.Emit(Id(id) + ": opened by '" + name + "', service " + std::to_string(params.service) +
                (known ? ", from " + Address_Dotted(addr) : ""));
    if (!RefusedByAllowList(cfg, id, name, known ? addr : nullptr, known)) Converse(cfg, id, exitCode);
    return Served::Session;
}

int Listen(Args &args, bool centre, const char *program)
{
    const char *command = centre ? "centre" : "listen";
    ListenConfig cfg;
    std::string spec, lineSpec, pcapFile, shutdownText = "Centre shutting down";
    short serialPort = 0;
    SerialSettings serial;
    bool noCompress = false;
    SetName(cfg.params, "LISTENER");
    while (args.More()) {
        std::string w = args.Next();
        if (IsHelp(w)) return Usage(LISTEN_HELP, EXIT_OK);
        if (w == "--echo") cfg.answer = ListenConfig::ECHO;
        else if (w == "--reply") {
            cfg.answer = ListenConfig::REPLY;
            if (!ReadFile(args.Next(), cfg.reply)) return Refuse(command, "cannot read the reply file", EXIT_FILE);
        } else if (w == "--save") cfg.saveDir = args.Next();
        else if (w == "--name") SetName(cfg.params, args.Next());
        else if (w == "--count") cfg.count = atol(args.Next().c_str());
        else if (w == "--parallel") cfg.parallel = atol(args.Next().c_str());
        else if (w == "--abort-after") {
            cfg.abortAfter = atol(args.Next().c_str());
            cfg.abortText = args.Next();
        } else if (w == "--delay") cfg.delayMs = atol(args.Next().c_str());
        else if (w == "--pieces") cfg.opt.seed = static_cast<unsigned>(atol(args.Next().c_str()));
        else if (w == "--no-compress") noCompress = true;
        else if (w == "--serial") serialPort = static_cast<short>(atoi(args.Next().c_str()));
        else if (w == "--line") lineSpec = args.Next();
        else if (w == "--pcap") pcapFile = args.Next();
        else if (w == "--json") Events_SetJson(true);
        else if (w == "--shutdown-text") shutdownText = args.Next();
        else if (w == "--allow") {
            std::string error;
            if (!Allow_Load(args.Next(), cfg.allow, error)) return Refuse(command, error, EXIT_FILE);
        } else if (Serial_IsOption(w)) {
            if (!Serial_SetOption(serial, w, args.Next())) return EXIT_USAGE;
        } else if (w == "-v") cfg.opt.verbose = true;
        else if (spec.empty() && !w.empty() && w[0] != '-') spec = w;
        else return Usage(LISTEN_HELP, EXIT_USAGE);
    }
    std::string endpoint;
    Endpoint at;
    if (cfg.parallel < 0 || cfg.parallel > LISTEN_MOST_PARALLEL || (cfg.parallel > 1 && serialPort > 0)) {
        return Usage(LISTEN_HELP, EXIT_USAGE);
    }
    if (serialPort > 0) {
        snprintf(cfg.params.localAddress, sizeof cfg.params.localAddress, "%d", serialPort);
        endpoint = "serial port " + std::to_string(serialPort);
        cfg.tcp = false;
    } else if (centre || !pcapFile.empty()) {
        return Usage(LISTEN_HELP, EXIT_USAGE);
    } else {
        std::string error;
        if (!Address_Parse(spec, true, at, error)) return Refuse(command, error, EXIT_USAGE);
        Address_Text(at.addr, cfg.params.localAddress);
        cfg.params.service = at.port;
        endpoint = Address_Dotted(at.addr) + ":" + std::to_string(at.port);
        std::string busy = Address_CheckBind(at);
        if (!busy.empty()) {
            Event("failed").Str("stage", "listen").Str("reason", busy).Emit("cannot listen on " + endpoint + ": " + busy);
            return EXIT_OPEN;
        }
    }
    if (!pcapFile.empty()) CaptureSerialPort(serialPort, pcapFile);
    StartLibrary(noCompress);
    InstallStatusDisplay("");
    Service_Start(shutdownText);
    if (cfg.tcp) Service_SetWakeTarget(at.addr, at.port);
    if (serialPort > 0) {
        if (!OpenSerialPort(serialPort, lineSpec, program, serial)) {
            std::string reason = Reason_SerialOpen(serialPort, Serial_OpenError());
            Event("failed").Int("port", serialPort).Str("stage", "serial").Str("reason", reason)
                .Emit("serial port " + std::to_string(serialPort) + " cannot be opened: " + reason);
            return EXIT_OPEN;
        }
        LINKAPI_NuRecSize(serialPort, 8740);
    }
    Event listening("listening");
    if (cfg.tcp) listening.Str("address", Address_Dotted(at.addr)).Int("port", at.port);
    else listening.Int("serial", serialPort);
    listening.Emit("listening on " + endpoint);
    int exitCode = ServeSessions(static_cast<int>(cfg.parallel), cfg.count, Service_Stopping, [&](short &slot) {
        if (centre && !CentreLogIn(serialPort)) return Service_Stopping() ? int(EXIT_OK) : int(EXIT_OPEN);
        int code = EXIT_OK;
        Served served = ServeOne(cfg, slot, code);
        return served == Served::NoCaller ? int(EXIT_OPEN) : code;
    });
    if (Service_Stopping()) {
        Event("shutdown").Str("signal", Service_Signal()).Emit(std::string("shutting down on ") + Service_Signal());
        exitCode = EXIT_OK;
    }
    if (serialPort > 0) LINK_Close(serialPort);
    PCTCP_Close();
    return exitCode;
}

// Why an active open failed, in words.
std::string CallOpenReason(short serialPort, bool p2p, const Endpoint &to, long seconds, long timeoutMs)
{
    std::string status = Events_LastStatus();
    if (serialPort > 0) return Reason_SerialCall(serialPort, p2p, seconds, status);
    return Reason_CallOpen(to, status, seconds, timeoutMs);
}

int Call(Args &args, const char *program)
{
    SessionOpenParams params{};
    StationOptions opt;
    std::vector<Bytes> messages;
    std::string spec, abortText, saveDir, lineSpec, pcapFile;
    short serialPort = 0;
    SerialSettings serial;
    uint16_t service = 5005;
    bool noCompress = false, nbm = false, abort = false, p2p = false;
    long timeoutMs = 60000;
    SetName(params, "CALLER");
    SetField(params.remoteName, "LISTENER");
    while (args.More()) {
        std::string w = args.Next();
        if (IsHelp(w)) return Usage(CALL_HELP, EXIT_OK);
        if (w == "--send") {
            Bytes body;
            if (!ReadFile(args.Next(), body)) return Refuse("call", "cannot read a file to send", EXIT_FILE);
            messages.push_back(body);
        } else if (w == "--text") {
            std::string t = args.Next();
            messages.emplace_back(t.begin(), t.end());
        } else if (w == "--name") SetName(params, args.Next());
        else if (w == "--no-compress") noCompress = true;
        else if (w == "--abort") {
            abort = true;
            abortText = args.Next();
        } else if (w == "--nbm") nbm = true;
        else if (w == "--timeout") timeoutMs = atol(args.Next().c_str());
        else if (w == "--pieces") opt.seed = static_cast<unsigned>(atol(args.Next().c_str()));
        else if (w == "--save") saveDir = args.Next();
        else if (w == "--serial") serialPort = static_cast<short>(atoi(args.Next().c_str()));
        else if (w == "--line") lineSpec = args.Next();
        else if (w == "--pcap") pcapFile = args.Next();
        else if (Serial_IsOption(w)) {
            if (!Serial_SetOption(serial, w, args.Next())) return EXIT_USAGE;
        } else if (w == "--p2p") p2p = true;
        else if (w == "--service") service = static_cast<uint16_t>(atoi(args.Next().c_str()));
        else if (w == "--json") Events_SetJson(true);
        else if (w == "-v") opt.verbose = true;
        else if (spec.empty() && !w.empty() && w[0] != '-') spec = w;
        else return Usage(CALL_HELP, EXIT_USAGE);
    }
    std::string endpoint = spec;
    Endpoint to;
    if (serialPort > 0) {
        snprintf(params.remoteAddress, sizeof params.remoteAddress, "%d", serialPort);
        params.service = service;
        endpoint = "serial port " + std::to_string(serialPort);
    } else if (!pcapFile.empty()) {
        return Usage(CALL_HELP, EXIT_USAGE);
    } else {
        std::string error;
        if (!Address_Parse(spec, false, to, error)) return Refuse("call", error, EXIT_USAGE);
        Address_Text(to.addr, params.remoteAddress);
        params.service = to.port;
    }
    if (!pcapFile.empty()) CaptureSerialPort(serialPort, pcapFile);
    StartLibrary(noCompress);
    InstallStatusDisplay("");
    if (serialPort > 0) {
        if (!OpenSerialPort(serialPort, lineSpec, program, serial)) {
            std::string reason = Reason_SerialOpen(serialPort, Serial_OpenError());
            Event("failed").Int("port", serialPort).Str("stage", "serial").Str("reason", reason)
                .Emit("serial port " + std::to_string(serialPort) + " cannot be opened: " + reason);
            return EXIT_OPEN;
        }
        Event("line").Int("serial", serialPort).Emit("calling over " + endpoint);
    }
    SESSION_SetTimeout(static_cast<uint32_t>(timeoutMs));
    short id = -1;
    Session_Create(&id);
    SessionPeerInfo peer{};
    Events_ClearStatus();
    time_t start = time(nullptr);
    short rc = p2p ? Session_OpenP2P(id, &params, &peer)
                   : (nbm ? Session_OpenNbm(id, &params, &peer) : Session_Open(id, &params, &peer));
    Trace(opt, "Session_Open(%d) -> %d", id, rc);
    if (rc != VK_OPENED) {
        std::string reason = CallOpenReason(serialPort, p2p, to, Seconds(start), timeoutMs);
        Event("failed").Int("session", id).Str("stage", "open").Int("result", rc).Str("text", Events_LastStatus())
            .Str("reason", reason).Emit("call to " + endpoint + " failed: " + reason);
        return EXIT_OPEN;
    }
    Event("opened").Int("session", id).Str("peer", PeerName(peer)).Int("service", peer.service)
        .Int("option", peer.serviceOption).Int("compression", Compression(id))
        .Emit(Id(id) + ": connected to '" + PeerName(peer) + "', compression version " + std::to_string(Compression(id)));
    for (size_t n = 0; n < messages.size(); ++n) {
        Events_ClearStatus();
        if (SendMessage(id, messages[n], opt) != VK_DONE) {
            ReportSessionFailure(id, "listener");
            return EXIT_SESSION;
        }
        Event("sent").Int("session", id).Int("n", static_cast<long long>(n + 1))
            .Int("bytes", static_cast<long long>(messages[n].size())).Emit(Id(id) + ": sent " + Describe(messages[n]));
        Bytes answer;
        StationOptions readOpt = opt;
        while ((rc = ReceiveMessage(id, answer, readOpt)) == VK_NODATA) {
            Event("waiting").Int("session", id).Int("result", rc)
                .Emit(Id(id) + ": no answer yet (non-blocking receive returned 0)");
        }
        if (rc == VK_CLOSED) {
            Event("closed").Int("session", id).Str("by", "peer").Int("result", rc)
                .Emit(Id(id) + ": ended by the listener's close");
            return EXIT_SESSION;
        }
        if (rc != VK_TURN && rc != VK_DONE) {
            ReportSessionFailure(id, "listener");
            return EXIT_SESSION;
        }
        Event("answer").Int("session", id).Int("n", static_cast<long long>(n + 1))
            .Int("bytes", static_cast<long long>(answer.size())).Emit(Id(id) + ": answer " + Describe(answer));
        if (!saveDir.empty() && !WriteFile(saveDir + "/answer-" + std::to_string(n + 1) + ".bin", answer)) return EXIT_FILE;
    }
    if (abort) {
        rc = Session_Abort(id, abortText.c_str());
        Event("aborted").Int("session", id).Str("by", "this side").Str("text", abortText).Int("result", rc)
            .Emit(Id(id) + ": aborted (" + std::to_string(rc) + ")");
        return EXIT_SESSION;
    }
    rc = SendMessage(id, Bytes(), opt, true);
    Event("closed").Int("session", id).Str("by", "this side").Int("result", rc)
        .Emit(Id(id) + ": closed (" + std::to_string(rc) + ")");
    if (serialPort > 0) LINK_Close(serialPort);
    PCTCP_Close();
    return rc == VK_DONE ? EXIT_OK : EXIT_SESSION;
}

}  // namespace

int main(int argc, char **argv)
{
    setvbuf(stdout, nullptr, _IOLBF, 4096);
    Args args;
    for (int i = 1; i < argc; ++i) args.words.emplace_back(argv[i]);
    std::string command = args.Next();
    if (command == "listen") return Listen(args, false, argv[0]);
    if (command == "centre") return Listen(args, true, argv[0]);
    if (command == "call") return Call(args, argv[0]);
    if (command == "load") return Load(args.words, args.at);
    if (command == "script") {
        std::string what = args.Next();
        if (what == "dump" && args.More()) return DumpScript(args.Next());
        if (what == "pcap" && args.More()) return ExportScript(args.Next());
        fputs("usage: varnek script dump FILE\n       varnek script pcap FILE > capture.pcap\n",
              what == "--help" ? stdout : stderr);
        return what == "--help" ? EXIT_OK : EXIT_USAGE;
    }
    if (command == "--version" || command == "version") {
        printf("varnek %s\n", VARNEK_VERSION);
        return EXIT_OK;
    }
    if (command == "ports") return args.More() && IsHelp(args.Next()) ? Usage(SERIAL_OPTIONS_HELP, EXIT_OK) : Serial_ListPorts();
    if (command == "demo") return Demo(std::vector<std::string>(args.words.begin() + 1, args.words.end()), argv[0]);
    if (command.empty() || IsHelp(command)) return Usage(USAGE, command.empty() ? EXIT_USAGE : EXIT_OK);
    fprintf(stderr, "varnek: unknown command '%s'\n", command.c_str());
    return Usage(USAGE, EXIT_USAGE);
}
