#include "station.h"

#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <random>

#include "events.h"
#include "service.h"

namespace {

constexpr uint64_t PROGRESS_THRESHOLD = 1000000;
const char *displayWho = "";

int VKAPI PrintStatus(uint16_t port, const char *text, uint16_t)
{
    // A listener woken from its wait by a stop shows no line for the wait it ended.
    if (Service_Stopping() && Service_IsWaiting()) return 0;
    Events_Status(displayWho, port, text);
    return 0;
}

using Clock = std::chrono::steady_clock;

double Since(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

uint16_t NextPiece(const StationOptions &opt, std::mt19937 &rng, uint64_t left)
{
    uint64_t piece = opt.maxPiece;
    if (opt.seed != 0) piece = 1 + rng() % opt.maxPiece;
    return static_cast<uint16_t>(piece < left ? piece : left);
}

}  // namespace

void SetField(char (&field)[16], const std::string &text)
{
    memset(field, 0, sizeof field);
    memcpy(field, text.data(), text.size() < sizeof field ? text.size() : sizeof field);
}

void InstallStatusDisplay(const char *who)
{
    displayWho = who;
    SESSION_SetDispFunc(PrintStatus);
}

void Trace(const StationOptions &opt, const char *format, ...)
{
    if (!opt.verbose) return;
    va_list args;
    va_start(args, format);
    fputs("trace: ", stderr);
    vfprintf(stderr, format, args);
    fputc('\n', stderr);
    va_end(args);
}

void Progress(const char *what, uint64_t done, uint64_t total, double seconds)
{
    if (total <= PROGRESS_THRESHOLD) return;
    int width = 40;
    int filled = static_cast<int>(width * done / total);
    double rate = seconds > 0 ? static_cast<double>(done) / seconds : 0;
    fprintf(stderr, "\r%s [%.*s%*s] %3u%% %.0f bytes/s", what, filled, "########################################",
            width - filled, "", static_cast<unsigned>(100 * done / total), rate);
    if (done == total) fputc('\n', stderr);
    fflush(stderr);
}

short SendMessage(short id, const Bytes &body, const StationOptions &opt, bool close)
{
    std::mt19937 rng(opt.seed);
    auto start = Clock::now();
    short rc = Session_TxLong(id, static_cast<uint32_t>(body.size()));
    Trace(opt, "Session_TxLong(%d, %zu) -> %d", id, body.size(), rc);
    uint64_t sent = 0;
    while (rc == VK_DONE && sent < body.size()) {
        uint16_t piece = NextPiece(opt, rng, body.size() - sent);
        rc = Session_TxStruct(id, body.data() + sent, piece);
        sent += piece;
        Progress("send   ", sent, body.size(), Since(start));
    }
    if (rc != VK_DONE) return rc;
    rc = close ? Session_Close(id) : Session_EOM(id);
    Trace(opt, "%s(%d) -> %d", close ? "Session_Close" : "Session_EOM", id, rc);
    return rc;
}

short ReceiveMessage(short id, Bytes &body, const StationOptions &opt)
{
    std::mt19937 rng(opt.seed + 1);
    uint32_t length = 0;
    short rc = Session_RxLong(id, &length);
    Trace(opt, "Session_RxLong(%d) -> %d, length %u", id, rc, length);
    body.clear();
    if (rc != VK_DONE) return rc;  // 4 or 3: an empty message; 0, -2
    body.resize(length);
    auto start = Clock::now();
    uint64_t got = 0;
    while (got < length) {
        uint16_t piece = NextPiece(opt, rng, length - got);
        do {
            rc = Session_RxStruct(id, body.data() + got, piece);
        } while (rc == VK_NODATA);
        if (rc == VK_FAIL) return rc;
        got += piece;
        Progress("receive", got, length, Since(start));
        if (got < length && rc != VK_DONE) return VK_FAIL;
    }
    return rc;
}

std::string Describe(const Bytes &body)
{
    std::string hex, text;
    char cell[4];
    for (size_t i = 0; i < body.size() && i < 16; ++i) {
        snprintf(cell, sizeof cell, "%02X ", body[i]);
        hex += cell;
        text += (body[i] >= 0x20 && body[i] < 0x7F) ? static_cast<char>(body[i]) : '.';
    }
    char line[160];
    snprintf(line, sizeof line, "%zu bytes: %s%s |%s%s|", body.size(), hex.c_str(), body.size() > 16 ? "..." : "",
             text.c_str(), body.size() > 16 ? "..." : "");
    return line;
}

bool ReadFile(const std::string &path, Bytes &out)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return true;
}

bool WriteFile(const std::string &path, const Bytes &data)
{
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char *>(data.data()), static_cast<std::streamsize>(data.size()));
    return static_cast<bool>(out);
}
