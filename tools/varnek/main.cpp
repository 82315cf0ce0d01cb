// varnek - a command-line station: listen for a caller, call a station, or watch a
// scripted conversation on loopback.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "demo.h"
#include "serial.h"
#include "serial_options.h"
#include "station.h"
#include "zip/zip.h"

namespace {

const char *USAGE =
    "usage: varnek COMMAND [OPTIONS]\n"
    "\n"
    "commands:\n"
    "  listen ADDRESS:PORT   wait for callers and answer their messages\n"
    "  listen --serial N     the same on serial port N\n"
    "  call ADDRESS:PORT     call a station, send messages, print the answers, close\n"
    "  call --serial N       the same on serial port N (--p2p: without a centre log-in)\n"
    "  centre --serial N     a centre: greets, checks the log-in record, then listens\n"
    "  script dump FILE      every record of a link script file, one line each\n"
    "  demo                  scripted conversations between two stations, over TCP and\n"
    "                        over a serial line with the link protocol\n"
    "\n"
    "'varnek COMMAND --help' tells more.  Exit codes: 0 done, 1 usage, 2 the session did\n"
    "not open, 3 the session failed or was aborted, 4 a file could not be read or written.\n";

const char *LISTEN_HELP =
    "usage: varnek listen ADDRESS:PORT [OPTIONS]\n"
    "       varnek listen --serial N [--line SPEC] [OPTIONS]\n"
    "       varnek centre --serial N [--line SPEC] [OPTIONS]\n"
    "\n"
    "Waits on ADDRESS:PORT (e.g. 0.0.0.0:5005), or on serial port N, for callers and\n"
    "prints every message received.  A centre first sends its greeting, checks the\n"
    "caller's log-in record and answers it.  The serial port's line is DRUMMEL_PORT<N>,\n"
    "or SPEC (/dev/ttyUSB0, tcp:HOST:PORT, tcp-listen:PORT ...).\n"
    "Each message is answered with a short acknowledgement, unless:\n"
    "  --echo              answer with the message itself\n"
    "  --reply FILE        answer with the contents of FILE\n"
    "  --save DIR          also store each message as DIR/message-N.bin\n"
    "options:\n"
    "  --name N            this station's name in the open frame\n"
    "  --count N           serve N sessions, then exit (default: serve forever)\n"
    "  --abort-after N T   abort the session with reason T after N messages\n"
    "  --delay MS          wait MS milliseconds before each answer\n"
    "  --pieces SEED       read in pieces of random sizes (seeded)\n"
    "  --no-compress       offer compression version 0\n"
    "  --baud B --data-bits D --parity P --stop-bits S --flow F --char-wait MS\n"
    "                      the serial line's settings (see 'varnek ports --help')\n"
    "  -v                  trace every library call on standard error\n";

const char *CALL_HELP =
    "usage: varnek call ADDRESS:PORT [OPTIONS]\n"
    "       varnek call --serial N [--line SPEC] [--p2p] [--service S] [OPTIONS]\n"
    "\n"
    "Calls the station at ADDRESS:PORT (e.g. 127.0.0.1:5005), or over serial port N\n"
    "(logging in to a centre, naming service S, unless --p2p), sends each message\n"
    "given, prints each answer, and closes the session.\n"
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

void SetName(SessionOpenParams &params, const std::string &name) { SetField(params.localName, name); }

std::string PeerName(const SessionPeerInfo &peer)
{
    return std::string(peer.localName, strnlen(peer.localName, sizeof peer.localName));
}

void StartLibrary(bool noCompress)
{
    Session_Reset();
    PCTCP_Open();
    if (noCompress) ZIP_SetOfferedVersion(0);
}

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
};

// One session of a listener; false when it did not open.
bool ServeOne(ListenConfig &cfg, long &saved, int &exitCode)
{
    short id = -1;
    if (Session_Create(&id) != VK_DONE) return false;
    SessionPeerInfo peer{};
    SessionOpenParams params = cfg.params;
    short rc = Session_WaitForOpen(id, &params, &peer);
    Trace(cfg.opt, "Session_WaitForOpen(%d) -> %d", id, rc);
    if (rc != VK_DONE) {
        exitCode = EXIT_OPEN;
        return false;
    }
    printf("session %d: opened by '%s', service %u\n", id, PeerName(peer).c_str(), static_cast<unsigned>(params.service));
    for (long n = 1;; ++n) {
        Bytes body;
        rc = ReceiveMessage(id, body, cfg.opt);
        if (rc == VK_FAIL) {
            printf("session %d: ended by a failure\n", id);
            exitCode = EXIT_SESSION;
            break;
        }
        if (rc == VK_CLOSED) {
            printf("session %d: closed by the caller\n", id);
            break;
        }
        printf("session %d: message %ld: %s\n", id, n, Describe(body).c_str());
        fflush(stdout);
        if (!cfg.saveDir.empty() && !WriteFile(cfg.saveDir + "/message-" + std::to_string(++saved) + ".bin", body)) {
            exitCode = EXIT_FILE;
        }
        if (cfg.abortAfter == n) {
            rc = Session_Abort(id, cfg.abortText.c_str());
            printf("session %d: aborted (%d)\n", id, rc);
            exitCode = EXIT_SESSION;
            break;
        }
        if (cfg.delayMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(cfg.delayMs));
        std::string ack = "received " + std::to_string(body.size()) + " bytes";
        const Bytes &answer = cfg.answer == ListenConfig::ECHO    ? body
                              : cfg.answer == ListenConfig::REPLY ? cfg.reply
                                                                  : Bytes(ack.begin(), ack.end());
        if (SendMessage(id, answer, cfg.opt) != VK_DONE) {
            printf("session %d: ended by a failure\n", id);
            exitCode = EXIT_SESSION;
            break;
        }
    }
    fflush(stdout);
    return true;
}

int Listen(Args &args, bool centre, const char *program)
{
    ListenConfig cfg;
    std::string endpoint, lineSpec;
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
            if (!ReadFile(args.Next(), cfg.reply)) return Usage("varnek listen: cannot read the reply file\n", EXIT_FILE);
        } else if (w == "--save") cfg.saveDir = args.Next();
        else if (w == "--name") SetName(cfg.params, args.Next());
        else if (w == "--count") cfg.count = atol(args.Next().c_str());
        else if (w == "--abort-after") {
            cfg.abortAfter = atol(args.Next().c_str());
            cfg.abortText = args.Next();
        } else if (w == "--delay") cfg.delayMs = atol(args.Next().c_str());
        else if (w == "--pieces") cfg.opt.seed = static_cast<unsigned>(atol(args.Next().c_str()));
        else if (w == "--no-compress") noCompress = true;
        else if (w == "--serial") serialPort = static_cast<short>(atoi(args.Next().c_str()));
        else if (w == "--line") lineSpec = args.Next();
        else if (Serial_IsOption(w)) {
            if (!Serial_SetOption(serial, w, args.Next())) return EXIT_USAGE;
        } else if (w == "-v") cfg.opt.verbose = true;
        else if (endpoint.empty() && w[0] != '-') endpoint = w;
        else return Usage(LISTEN_HELP, EXIT_USAGE);
    }
    if (serialPort > 0) {
        snprintf(cfg.params.localAddress, sizeof cfg.params.localAddress, "%d", serialPort);
        endpoint = "serial port " + std::to_string(serialPort);
    } else if (centre || !ParseEndpoint(endpoint, cfg.params, true)) {
        return Usage(LISTEN_HELP, EXIT_USAGE);
    }
    StartLibrary(noCompress);
    InstallStatusDisplay("");
    if (serialPort > 0) {
        if (!OpenSerialPort(serialPort, lineSpec, program, serial)) {
            printf("serial port %d cannot be opened%s\n", serialPort, Serial_OpenError().c_str());
            return EXIT_OPEN;
        }
        LINKAPI_NuRecSize(serialPort, 8740);
    }
    printf("listening on %s\n", endpoint.c_str());
    fflush(stdout);
    int exitCode = EXIT_OK;
    long saved = 0;
    for (long served = 0; cfg.count < 0 || served < cfg.count; ++served) {
        if (centre && !CentreLogIn(serialPort)) {
            exitCode = EXIT_OPEN;
            break;
        }
        if (!ServeOne(cfg, saved, exitCode)) break;
    }
    if (serialPort > 0) LINK_Close(serialPort);
    PCTCP_Close();
    return exitCode;
}

int Call(Args &args, const char *program)
{
    SessionOpenParams params{};
    StationOptions opt;
    std::vector<Bytes> messages;
    std::string endpoint, abortText, saveDir, lineSpec;
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
            if (!ReadFile(args.Next(), body)) return Usage("varnek call: cannot read a file to send\n", EXIT_FILE);
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
        else if (Serial_IsOption(w)) {
            if (!Serial_SetOption(serial, w, args.Next())) return EXIT_USAGE;
        } else if (w == "--p2p") p2p = true;
        else if (w == "--service") service = static_cast<uint16_t>(atoi(args.Next().c_str()));
        else if (w == "-v") opt.verbose = true;
        else if (endpoint.empty() && w[0] != '-') endpoint = w;
        else return Usage(CALL_HELP, EXIT_USAGE);
    }
    if (serialPort > 0) {
        snprintf(params.remoteAddress, sizeof params.remoteAddress, "%d", serialPort);
        params.service = service;
        endpoint = "serial port " + std::to_string(serialPort);
    } else if (!ParseEndpoint(endpoint, params, false)) {
        return Usage(CALL_HELP, EXIT_USAGE);
    }
    StartLibrary(noCompress);
    InstallStatusDisplay("");
    if (serialPort > 0 && !OpenSerialPort(serialPort, lineSpec, program, serial)) {
        printf("serial port %d cannot be opened%s\n", serialPort, Serial_OpenError().c_str());
        return EXIT_OPEN;
    }
    SESSION_SetTimeout(static_cast<uint32_t>(timeoutMs));
    short id = -1;
    Session_Create(&id);
    SessionPeerInfo peer{};
    short rc = p2p ? Session_OpenP2P(id, &params, &peer)
                   : (nbm ? Session_OpenNbm(id, &params, &peer) : Session_Open(id, &params, &peer));
    Trace(opt, "Session_Open(%d) -> %d", id, rc);
    if (rc != VK_OPENED) {
        printf("call to %s failed\n", endpoint.c_str());
        return EXIT_OPEN;
    }
    uint8_t version = 0;
    ZIP_GetVersion(static_cast<uint16_t>(id), &version);
    printf("session %d: connected to '%s', compression version %u\n", id, PeerName(peer).c_str(), version);
    for (size_t n = 0; n < messages.size(); ++n) {
        if (SendMessage(id, messages[n], opt) != VK_DONE) return EXIT_SESSION;
        printf("session %d: sent %s\n", id, Describe(messages[n]).c_str());
        Bytes answer;
        StationOptions readOpt = opt;
        while ((rc = ReceiveMessage(id, answer, readOpt)) == VK_NODATA) {
            printf("session %d: no answer yet (non-blocking receive returned 0)\n", id);
            fflush(stdout);
        }
        if (rc != VK_TURN && rc != VK_DONE) {
            printf("session %d: ended by %s\n", id, rc == VK_CLOSED ? "the listener's close" : "a failure");
            return EXIT_SESSION;
        }
        printf("session %d: answer %s\n", id, Describe(answer).c_str());
        if (!saveDir.empty() && !WriteFile(saveDir + "/answer-" + std::to_string(n + 1) + ".bin", answer)) return EXIT_FILE;
        fflush(stdout);
    }
    if (abort) {
        rc = Session_Abort(id, abortText.c_str());
        printf("session %d: aborted (%d)\n", id, rc);
        return EXIT_SESSION;
    }
    rc = SendMessage(id, Bytes(), opt, true);
    printf("session %d: closed (%d)\n", id, rc);
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
    if (command == "script") {
        std::string what = args.Next();
        if (what == "dump" && args.More()) return DumpScript(args.Next());
        fputs("usage: varnek script dump FILE\n", what == "--help" ? stdout : stderr);
        return what == "--help" ? EXIT_OK : EXIT_USAGE;
    }
    if (command == "ports") return args.More() && IsHelp(args.Next()) ? Usage(SERIAL_OPTIONS_HELP, EXIT_OK) : Serial_ListPorts();
    if (command == "demo") return Demo(args.More() && IsHelp(args.Next()), argv[0]);
    if (command.empty() || IsHelp(command)) return Usage(USAGE, command.empty() ? EXIT_USAGE : EXIT_OK);
    fprintf(stderr, "varnek: unknown command '%s'\n", command.c_str());
    return Usage(USAGE, EXIT_USAGE);
}
