#include "support/noisy_echo.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <thread>
#include <vector>

#include "shared/environment.h"
#include "support/session_wiring.h"
#include "varnek.h"

namespace {

constexpr short CALLER = 1;
constexpr short ANSWERER = 2;
constexpr size_t PIECE = 50000;

void Text(char (&field)[16], const char *text)
{
    memset(field, 0, sizeof field);
    memcpy(field, text, strlen(text));
}

bool Send(short id, const std::vector<uint8_t> &data)
{
    for (size_t at = 0; at < data.size(); at += PIECE) {
        size_t n = data.size() - at < PIECE ? data.size() - at : PIECE;
        if (Session_TxStruct(id, data.data() + at, static_cast<uint16_t>(n)) != VK_DONE) return false;
    }
    return Session_EOM(id) == VK_DONE;
}

// Reads the whole message; true when its last byte passed the turn.
bool Receive(short id, std::vector<uint8_t> &data)
{
    short r = VK_DONE;
    for (size_t at = 0; at < data.size() && r == VK_DONE; at += PIECE) {
        size_t n = data.size() - at < PIECE ? data.size() - at : PIECE;
        r = Session_RxStruct(id, data.data() + at, static_cast<uint16_t>(n));
    }
    return r == VK_TURN;
}

void Answer(const NoisyEcho &echo, bool *closed)
{
    short id = -1;
    Session_Create(&id);
    SessionOpenParams params{};
    Text(params.localName, "ANSWERER");
    Text(params.localAddress, "2");
    SessionPeerInfo peer{};
    if (Session_WaitForOpenP2P(id, &params, &peer) != VK_DONE) return;
    if (echo.recordCode != 0) LINKAPI_NuRecSize(ANSWERER, echo.recordCode);
    std::vector<uint8_t> got(echo.bytes);
    if (!Receive(id, got) || !Send(id, got)) return;
    uint8_t bye[3];
    *closed = Session_RxStruct(id, bye, 3) == VK_CLOSED;
}

int CountRetries(const std::string &traceFile)
{
    std::ifstream in(traceFile);
    std::string line;
    int n = 0;
    while (std::getline(in, line)) {
        if (line.size() > 4 && line.compare(4, std::string::npos, "Retry to send") == 0) ++n;
    }
    return n;
}

}  // namespace

NoisyEchoResult NoisyEcho_Run(const NoisyEcho &echo, const std::string &componentPath, const std::string &traceFile)
{
    NoisyEchoResult result;
    SetEnvironment("VARNEK_DRUMMEL", componentPath);
    SetEnvironment("DRUMMEL_DEBUG", traceFile);
    SetEnvironment("DRUMMEL_PORT1", echo.line);
    SetEnvironment("DRUMMEL_PORT2", echo.line);
    remove(traceFile.c_str());
    Session_Reset();
    if (LINK_Open(CALLER, echo.baudHundreds, 8, 'N', 1, 0, echo.waitMs, 0) != 1) return result;
    if (LINK_Open(ANSWERER, echo.baudHundreds, 8, 'N', 1, 0, echo.waitMs, 0) != 1) {
        LINK_Close(CALLER);
        return result;
    }
    std::vector<uint8_t> message(echo.bytes);
    std::mt19937 rng(static_cast<unsigned>(echo.bytes));
    for (auto &b : message) b = static_cast<uint8_t>(rng());
    auto start = std::chrono::steady_clock::now();
    bool answererClosed = false;
    std::thread answerer(Answer, echo, &answererClosed);
    short id = -1;
    Session_Create(&id);
    SessionOpenParams params{};
    Text(params.localName, "CALLER");
    Text(params.remoteAddress, "1");
    SessionPeerInfo peer{};
    bool ok = Session_OpenP2P(id, &params, &peer) == VK_OPENED;
    if (ok && echo.recordCode != 0) LINKAPI_NuRecSize(CALLER, echo.recordCode);
    std::vector<uint8_t> back(echo.bytes);
    ok = ok && Send(id, message) && Receive(id, back) && back == message;
    ok = ok && Session_TxStruct(id, "bye", 3) == VK_DONE && Session_Close(id) == VK_DONE;
    answerer.join();
    result.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    result.echoed = ok && answererClosed;
    ReleaseAllSessions();
    LINK_Close(CALLER);
    LINK_Close(ANSWERER);
    result.retries = CountRetries(traceFile);
    return result;
}
