// The varnek station as an operator meets it: addresses as people write them, reasons
// for failures, JSON events, the end on SIGTERM, and the allow file.  Every case runs
// the real program.
#include <gtest/gtest.h>

#include <csignal>
#include <fstream>
#include <map>
#include <string>
#include <sys/stat.h>
#include <vector>

#include "support/child_process.h"
#include "support/link_peer.h"
#include "support/pty.h"
#include "support/recorders.h"
#include "support/tcp_peer.h"
#include "varnek.h"

#ifndef VARNEK_STATION
#error "VARNEK_STATION must name the varnek program"
#endif

namespace {

using Json = std::map<std::string, std::string>;  // a flat object: strings unquoted, numbers as text

// Parses one flat JSON object of strings and integers; false when the line is not one.
bool ParseFlat(const std::string &line, Json &out)
{
    size_t i = 0;
    auto skip = [&] { while (i < line.size() && line[i] == ' ') ++i; };
    auto string = [&](std::string &s) {
        if (line[i++] != '"') return false;
        for (; i < line.size() && line[i] != '"'; ++i) {
            if (line[i] != '\\') {
                s += line[i];
                continue;
            }
            char e = line[++i];
            if (e == 'u') {
                s += static_cast<char>(std::stoi(line.substr(i + 1, 4), nullptr, 16));
                i += 4;
            } else {
                s += e == 'n' ? '\n' : e == 't' ? '\t' : e == 'r' ? '\r' : e;
            }
        }
        return i++ < line.size();
    };
    if (line.empty() || line[i++] != '{') return false;
    for (;;) {
        skip();
        std::string key, value;
        if (!string(key)) return false;
        if (line[i++] != ':') return false;
        if (line[i] == '"') {
            if (!string(value)) return false;
        } else {
            size_t end = line.find_first_of(",}", i);
            value = line.substr(i, end - i);
            if (value.empty() || value.find_first_not_of("-0123456789") != std::string::npos) return false;
            i = end;
        }
        out[key] = value;
        if (line[i] == '}') return i + 1 == line.size();
        if (line[i++] != ',') return false;
    }
}

std::vector<Json> Events(const std::string &output)
{
    std::vector<Json> events;
    size_t at = 0;
    for (size_t end; (end = output.find('\n', at)) != std::string::npos; at = end + 1) {
        Json e;
        EXPECT_TRUE(ParseFlat(output.substr(at, end - at), e)) << output.substr(at, end - at);
        events.push_back(e);
    }
    return events;
}

std::vector<std::string> Names(const std::vector<Json> &events)
{
    std::vector<std::string> names;
    for (const Json &e : events) names.push_back(e.at("event"));
    return names;
}

class Station : public ::testing::Test {
protected:
    void SetUp() override
    {
        port = FreeLoopbackPort();
        dir = ::testing::TempDir() + "varnek-station-" + ::testing::UnitTest::GetInstance()->current_test_info()->name();
        mkdir(dir.c_str(), 0755);
    }

    std::vector<std::string> Command(std::vector<std::string> words)
    {
        words.insert(words.begin(), VARNEK_STATION);
        return words;
    }

    void StartListener(std::vector<std::string> words)
    {
        ASSERT_TRUE(listener.Start(Command(words), dir + "/listener.txt", true));
        ASSERT_TRUE(listener.WaitForOutput("listening", 20)) << listener.Output();
    }

    int Run(ChildProcess &p, std::vector<std::string> words, const std::string &name, int seconds = 60)
    {
        if (!p.Start(Command(words), dir + "/" + name + ".txt", true)) return -1;
        return p.Wait(seconds);
    }

    std::string Here() const { return "localhost:" + std::to_string(port); }

    SocketService sockets;
    uint16_t port = 0;
    std::string dir;
    ChildProcess listener, caller;
};

TEST_F(Station, HostNamesAndEveryLocalAddressAreUnderstood)
{
    StartListener({"listen", ":" + std::to_string(port), "--count", "1", "--echo"});
    EXPECT_EQ(Run(caller, {"call", Here(), "--text", "hello"}, "call"), 0) << caller.Output();
    EXPECT_NE(caller.Output().find("answer 5 bytes"), std::string::npos) << caller.Output();
    EXPECT_EQ(listener.Wait(30), 0);
    EXPECT_NE(listener.Output().find("listening on 0.0.0.0:" + std::to_string(port)), std::string::npos);
    EXPECT_NE(listener.Output().find("opened by 'CALLER', service " + std::to_string(port) + ", from 127.0.0.1"),
              std::string::npos)
        << listener.Output();
}

TEST_F(Station, AnAddressItCannotUseGetsOneLineAndExitOne)
{
    struct Case {
        std::vector<std::string> words;
        std::string line;
    } cases[] = {
        {{"call", "localhost", "--text", "x"}, "varnek call: 'localhost' has no port: write HOST:PORT (e.g. localhost:5005)\n"},
        {{"call", ":5005"}, "varnek call: ':5005' names no host: write HOST:PORT (e.g. localhost:5005)\n"},
        {{"listen", "70000"}, "varnek listen: '70000' in '70000' is not a port number from 1 to 65535\n"},
        {{"call", "[::1]:5005"}, "varnek call: '[::1]:5005': IPv6 addresses are not supported; give a host name or an IPv4 address\n"},
    };
    for (const Case &c : cases) {
        ChildProcess p;
        EXPECT_EQ(Run(p, c.words, "bad"), 1) << c.words[1];
        EXPECT_EQ(p.Output(), c.line);
    }
    ChildProcess unknown;
    EXPECT_EQ(Run(unknown, {"call", "no-such-host.invalid:5005"}, "unknown"), 1);
    EXPECT_EQ(unknown.Output().rfind("varnek call: host 'no-such-host.invalid' not found (", 0), 0u) << unknown.Output();
}

TEST_F(Station, ARefusedConnectionAndABusyPortAreNamed)
{
    EXPECT_EQ(Run(caller, {"call", Here(), "--text", "x"}, "call"), 2);
    EXPECT_EQ(caller.Output(), "call to " + Here() + " failed: the connection was refused: nothing listens at localhost "
                               "(127.0.0.1) port " + std::to_string(port) + "\n");

    TcpPeer other;
    uint16_t taken = other.Listen();
    ChildProcess busy;
    EXPECT_EQ(Run(busy, {"listen", "127.0.0.1:" + std::to_string(taken)}, "busy"), 2);
    EXPECT_NE(busy.Output().find("port " + std::to_string(taken) + " is in use"), std::string::npos) << busy.Output();
}

TEST_F(Station, APeerOfAnotherProtocolIsNamed)
{
    TcpPeer web;
    uint16_t webPort = web.Listen();
    ASSERT_TRUE(caller.Start(Command({"call", "127.0.0.1:" + std::to_string(webPort), "--text", "x"}), dir + "/call.txt", true));
    ASSERT_TRUE(web.Accept());
    EXPECT_FALSE(web.Receive(40).empty()) << "the open frame";
    web.Send(std::string("HTTP/1.0 400 Bad Request\r\n\r\n"));
    EXPECT_EQ(caller.Wait(30), 2);
    EXPECT_EQ(caller.Output(), "status: port 1: Hardware Level Failure or T.O.\n"
                               "call to 127.0.0.1:" + std::to_string(webPort) + " failed: 127.0.0.1 port " +
                                   std::to_string(webPort) + " accepted the connection, then dropped it or answered "
                                   "with no open frame: not a station of this protocol (\"Hardware Level Failure or T.O.\")\n");
}

TEST_F(Station, JsonEventsParseBackWithTheirFields)
{
    StartListener({"listen", "127.0.0.1:" + std::to_string(port), "--count", "1", "--echo", "--json"});
    std::string name = "Q\"B\\C\x01";
    EXPECT_EQ(Run(caller, {"call", Here(), "--json", "--name", name, "--text", "hello", "--text", "second one"}, "call"), 0);
    EXPECT_EQ(listener.Wait(30), 0);

    std::vector<Json> heard = Events(listener.Output());
    EXPECT_EQ(Names(heard), (std::vector<std::string>{"listening", "opened", "message", "answer", "message", "answer",
                                                       "closed"}));
    ASSERT_EQ(heard.size(), 7u);
    EXPECT_EQ(heard[0]["port"], std::to_string(port));
    EXPECT_EQ(heard[1]["peer"], name);
    EXPECT_EQ(heard[1]["address"], "127.0.0.1");
    EXPECT_EQ(heard[1]["service"], std::to_string(port));
    EXPECT_EQ(heard[1]["compression"], "2");
    EXPECT_EQ(heard[2]["bytes"], "5");
    EXPECT_EQ(heard[4]["bytes"], "10");
    EXPECT_EQ(heard[4]["n"], "2");
    EXPECT_EQ(heard[6]["by"], "peer");
    EXPECT_EQ(heard[6]["result"], "3");
    for (Json &e : heard) {
        EXPECT_EQ(e["session"], e["event"] == "listening" ? "" : "0");
        EXPECT_EQ(e["time"].size(), 24u);
        EXPECT_EQ(e["time"].back(), 'Z');
    }
    EXPECT_NE(listener.Output().find("\"peer\":\"Q\\\"B\\\\C\\u0001\""), std::string::npos) << listener.Output();

    std::vector<Json> said = Events(caller.Output());
    EXPECT_EQ(Names(said), (std::vector<std::string>{"opened", "sent", "answer", "sent", "answer", "closed"}));
    ASSERT_EQ(said.size(), 6u);
    EXPECT_EQ(said[0]["peer"], "LISTENER");
    EXPECT_EQ(said[4]["bytes"], "10");
    EXPECT_EQ(said[5]["by"], "this side");
    EXPECT_EQ(said[5]["result"], "1");
}

TEST_F(Station, SigtermInASessionGivesTheCallerTheShutdownTextAndExitsZero)
{
    StartListener({"listen", ":" + std::to_string(port), "--delay", "60000"});
    ASSERT_TRUE(caller.Start(Command({"call", Here(), "--text", "hi"}), dir + "/call.txt", true));
    ASSERT_TRUE(listener.WaitForOutput("message 1", 20)) << listener.Output();
    listener.Signal(SIGTERM);
    EXPECT_EQ(caller.Wait(30), 3);
    EXPECT_NE(caller.Output().find("status: port 1: Centre shutting down\nsession 0: aborted by the listener: Centre "
                                   "shutting down\n"),
              std::string::npos)
        << caller.Output();
    EXPECT_EQ(listener.Wait(30), 0);
    EXPECT_NE(listener.Output().find("shutting down on SIGTERM"), std::string::npos) << listener.Output();
}

TEST_F(Station, SigtermStopsAWaitingListenerAndItsSessionWithTheGivenText)
{
    Session_Reset();
    DisplayRecorder display;
    display.Install();
    StartListener({"listen", ":" + std::to_string(port), "--echo", "--shutdown-text", "Back at six"});
    SessionOpenParams params{};
    snprintf(params.remoteAddress, sizeof params.remoteAddress, "127.000.000.001");
    params.service = port;
    SessionPeerInfo peer{};
    short id = -1;
    ASSERT_EQ(Session_Create(&id), VK_DONE);
    ASSERT_EQ(Session_Open(id, &params, &peer), VK_OPENED);
    ASSERT_EQ(Session_TxLong(id, 2), VK_DONE);
    ASSERT_EQ(Session_TxStruct(id, "hi", 2), VK_DONE);
    ASSERT_EQ(Session_EOM(id), VK_DONE);
    uint32_t length = 0;
    char echo[2];
    ASSERT_EQ(Session_RxLong(id, &length), VK_DONE);
    ASSERT_EQ(Session_RxStruct(id, echo, 2), VK_TURN);

    listener.Signal(SIGTERM);  // the listener now waits in the library for the next message
    EXPECT_EQ(listener.Wait(30), 0);
    EXPECT_EQ(Session_TxLong(id, 0), VK_DONE);
    EXPECT_EQ(Session_EOM(id), VK_FAIL);
    ASSERT_GE(display.Lines().size(), 2u);
    EXPECT_EQ(display.Lines()[display.Lines().size() - 2].text, "Back at six");
    EXPECT_EQ(display.Lines().back().text, "ZIP Level Failure") << "the end of message met the abort";
    TCPAPI_End();

    ChildProcess idle;  // and a listener that waits for a caller ends at once
    ASSERT_TRUE(idle.Start(Command({"listen", std::to_string(port)}), dir + "/idle.txt", true));
    ASSERT_TRUE(idle.WaitForOutput("listening", 20));
    idle.Signal(SIGINT);
    EXPECT_EQ(idle.Wait(10), 0);
    EXPECT_EQ(idle.Output(), "listening on 0.0.0.0:" + std::to_string(port) + "\nshutting down on SIGINT\n");
}

TEST_F(Station, TheAllowFileLetsInOnlyTheStationsAndNetworksItNames)
{
    std::ofstream(dir + "/names") << "# stations of the north line\nSTATION-A\n127.0.0.0/8\n";
    StartListener({"listen", ":" + std::to_string(port), "--count", "2", "--allow", dir + "/names"});
    EXPECT_EQ(Run(caller, {"call", Here(), "--name", "INTRUDER", "--text", "hi"}, "intruder"), 3);
    EXPECT_NE(caller.Output().find("aborted by the listener: Station INTRUDER is not allowed here"), std::string::npos)
        << caller.Output();
    ChildProcess known;
    EXPECT_EQ(Run(known, {"call", Here(), "--name", "STATION-A", "--text", "hi"}, "known"), 0) << known.Output();
    EXPECT_EQ(listener.Wait(30), 0);
    EXPECT_NE(listener.Output().find("refused 'INTRUDER' from 127.0.0.1: Station INTRUDER is not allowed here"),
              std::string::npos)
        << listener.Output();

    std::ofstream(dir + "/nets") << "10.0.0.0/8\n";
    ChildProcess strict, outsider;
    ASSERT_TRUE(strict.Start(Command({"listen", ":" + std::to_string(port), "--count", "1", "--allow", dir + "/nets"}),
                             dir + "/strict.txt", true));
    ASSERT_TRUE(strict.WaitForOutput("listening", 20));
    EXPECT_EQ(Run(outsider, {"call", Here(), "--text", "hi"}, "outsider"), 3);
    EXPECT_NE(outsider.Output().find("aborted by the listener: Address 127.0.0.1 is not allowed here"), std::string::npos)
        << outsider.Output();
    EXPECT_EQ(strict.Wait(30), 0);
}

TEST_F(Station, AMissingDeviceAndARefusedLogInAreNamed)
{
    UseBuiltComponent();
    EXPECT_EQ(Run(caller, {"call", "--serial", "4", "--line", "/dev/ttyNOPE9", "--p2p", "--text", "x"}, "missing"), 2);
    EXPECT_EQ(caller.Output(), "serial port 4 cannot be opened: serial port 4 (/dev/ttyNOPE9): the device "
                               "/dev/ttyNOPE9 does not exist\n");

    Cable cable;
    SetEnvironment("DRUMMEL_PORT3", cable.a.path);
    ChildProcess station;
    ASSERT_TRUE(station.Start(Command({"call", "--serial", "4", "--line", cable.b.path, "--text", "x"}),
                              dir + "/station.txt", true));
    ASSERT_TRUE(station.WaitForOutput("calling over serial port 4", 20)) << station.Output();
    ASSERT_EQ(LINK_Open(3, 96, 8, 'N', 1, 0, 1000, 0), 1);
    const uint8_t refusal[10] = {0x22, 0x24, 0x00, 0x01, 1, 0, 0, 0, 0, 0};  // the greeting's first byte: 1, no
    EXPECT_EQ(LINK_Send(3, refusal, sizeof refusal), 1);
    EXPECT_EQ(station.Wait(60), 2);
    EXPECT_NE(station.Output().find("failed: the centre refused the log-in on serial port 4 (its greeting said no)"),
              std::string::npos)
        << station.Output();
    LINK_Close(3);
}

}  // namespace
