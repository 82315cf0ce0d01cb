// varnek load: N stations on N threads call one listener at once; each sends M messages
// of S bytes and checks every echo byte for byte.  Prints the rate, the round-trip
// latency percentiles and what was lost or corrupted.
#include "load.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <random>
#include <thread>

#include "address.h"
#include "station.h"
#include "varnek_debug.h"

namespace {

const char *LOAD_HELP =
    "usage: varnek load ADDRESS:PORT --stations N --messages M --size S [OPTIONS]\n"
    "\n"
    "Opens N sessions at once to the listener at ADDRESS:PORT (run it with --echo and\n"
    "--parallel N), a thread each; every station sends M messages of S bytes and checks\n"
    "that each answer is the message itself, byte for byte, then closes.  Prints\n"
    "messages/s, bytes/s (both directions) and the round-trip latency p50/p99, with a\n"
    "progress bar on standard error.  Exit 0 when nothing was lost or corrupted, 3\n"
    "otherwise (2 when no station could open).\n"
    "options:\n"
    "  --no-compress       offer compression version 0\n"
    "  --timeout MS        receive time-out of every station (default 60000)\n"
    "  --seed N            seed of the message contents (default 1)\n";

using Clock = std::chrono::steady_clock;

struct LoadConfig {
    SessionOpenParams params{};
    long stations = 1;
    long messages = 1;
    long size = 1000;
    long timeoutMs = 60000;
    unsigned seed = 1;
    bool noCompress = false;
};

struct Tally {
    std::atomic<long> opened{0};
    std::atomic<long> done{0};       // messages answered intact
    std::atomic<long> lost{0};       // messages without an answer
    std::atomic<long> corrupted{0};  // answers that differ from the message
    std::mutex lock;
    std::vector<double> roundTripsMs;  // under lock
    Clock::time_point firstSent = Clock::time_point::max();  // under lock: the span of
    Clock::time_point lastAnswered{};                          // the message exchange
};

// Half text, half noise: the coder finds matches, and a byte out of place still shows.
Bytes MakeMessage(unsigned seed, long station, long n, long size)
{
    std::mt19937 rng(seed * 1000003u + static_cast<unsigned>(station) * 7919u + static_cast<unsigned>(n));
    static const char WORDS[] = "station centre session frame message echo ";
    Bytes body(static_cast<size_t>(size));
    for (size_t i = 0; i < body.size(); ++i) {
        body[i] = (rng() & 1) ? static_cast<uint8_t>(WORDS[i % (sizeof WORDS - 1)]) : static_cast<uint8_t>(rng());
    }
    return body;
}

void RunStation(const LoadConfig &cfg, long station, Tally &tally)
{
    StationOptions opt;
    opt.quiet = true;
    short id = -1;
    SessionPeerInfo peer{};
    SessionOpenParams params = cfg.params;
    if (Session_Create(&id) != VK_DONE || Session_Open(id, &params, &peer) != VK_OPENED) {
        printf("station %ld: the open failed\n", station);
        tally.lost += cfg.messages;
        return;
    }
    ++tally.opened;
    std::vector<double> trips;
    trips.reserve(static_cast<size_t>(cfg.messages));
    auto first = Clock::now();
    for (long n = 0; n < cfg.messages; ++n) {
        Bytes body = MakeMessage(cfg.seed, station, n, cfg.size);
        Bytes answer;
        auto start = Clock::now();
        short rc = SendMessage(id, body, opt);
        if (rc == VK_DONE) rc = ReceiveMessage(id, answer, opt);
        if (rc != VK_TURN && rc != VK_DONE) {
            printf("station %ld: session %d failed at message %ld\n", station, id, n + 1);
            tally.lost += cfg.messages - n;
            return;
        }
        trips.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
        if (answer != body) {
            printf("station %ld: answer %ld differs from the message\n", station, n + 1);
            ++tally.corrupted;
        } else {
            ++tally.done;
        }
    }
    auto last = Clock::now();
    {
        std::lock_guard<std::mutex> guard(tally.lock);
        tally.roundTripsMs.insert(tally.roundTripsMs.end(), trips.begin(), trips.end());
        tally.firstSent = std::min(tally.firstSent, first);
        tally.lastAnswered = std::max(tally.lastAnswered, last);
    }
    if (SendMessage(id, Bytes(), opt, true) != VK_DONE) printf("station %ld: the close failed\n", station);
}

void ShowProgress(long finished, long total, double seconds)
{
    constexpr int WIDTH = 40;
    int filled = total > 0 ? static_cast<int>(WIDTH * finished / total) : WIDTH;
    fprintf(stderr, "\rload [%.*s%*s] %ld/%ld messages, %.1f s", filled, "########################################",
            WIDTH - filled, "", finished, total, seconds);
    fflush(stderr);
}

double Percentile(std::vector<double> &values, double p)
{
    if (values.empty()) return 0;
    auto k = static_cast<size_t>(p * static_cast<double>(values.size() - 1) + 0.5);
    std::nth_element(values.begin(), values.begin() + static_cast<long>(k), values.end());
    return values[k];
}

bool ParseLoadArgs(const std::vector<std::string> &words, size_t at, LoadConfig &cfg, bool &help)
{
    std::string endpoint;
    SetField(cfg.params.localName, "LOAD");
    SetField(cfg.params.remoteName, "LISTENER");
    for (size_t i = at; i < words.size(); ++i) {
        const std::string &w = words[i];
        bool hasValue = i + 1 < words.size();
        if (w == "--help" || w == "-h") help = true;
        else if (w == "--stations" && hasValue) cfg.stations = atol(words[++i].c_str());
        else if (w == "--messages" && hasValue) cfg.messages = atol(words[++i].c_str());
        else if (w == "--size" && hasValue) cfg.size = atol(words[++i].c_str());
        else if (w == "--timeout" && hasValue) cfg.timeoutMs = atol(words[++i].c_str());
        else if (w == "--seed" && hasValue) cfg.seed = static_cast<unsigned>(atol(words[++i].c_str()));
        else if (w == "--no-compress") cfg.noCompress = true;
        else if (endpoint.empty() && !w.empty() && w[0] != '-') endpoint = w;
        else return false;
    }
    if (help) return true;
    constexpr long MOST_STATIONS = 500;  // one session slot each
    if (cfg.stations < 1 || cfg.stations > MOST_STATIONS || cfg.messages < 0 || cfg.size < 0) return false;
    if (cfg.size > 0x7FFFFFFF) return false;
    Endpoint to;
    std::string error;
    if (!Address_Parse(endpoint, false, to, error)) return false;
    Address_Text(to.addr, cfg.params.remoteAddress);
    cfg.params.service = to.port;
    return true;
}

}  // namespace

int Load(const std::vector<std::string> &words, size_t at)
{
    LoadConfig cfg;
    bool help = false;
    if (!ParseLoadArgs(words, at, cfg, help) || help) {
        fputs(LOAD_HELP, help ? stdout : stderr);
        return help ? EXIT_OK : EXIT_USAGE;
    }
    Session_Reset();
    PCTCP_Open();
    if (cfg.noCompress) VKD_SetOfferedVersion(0);
    InstallStatusDisplay("");
    SESSION_SetTimeout(static_cast<uint32_t>(cfg.timeoutMs));

    Tally tally;
    long total = cfg.stations * cfg.messages;
    auto start = Clock::now();
    std::vector<std::thread> stations;
    stations.reserve(static_cast<size_t>(cfg.stations));
    for (long s = 0; s < cfg.stations; ++s) stations.emplace_back(RunStation, std::cref(cfg), s, std::ref(tally));
    std::atomic<bool> running{true};
    std::thread progress([&] {
        while (running) {
            ShowProgress(tally.done + tally.corrupted + tally.lost, total,
                         std::chrono::duration<double>(Clock::now() - start).count());
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
        }
    });
    for (std::thread &t : stations) t.join();
    double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    running = false;
    progress.join();
    ShowProgress(tally.done + tally.corrupted + tally.lost, total, seconds);
    fputc('\n', stderr);
    PCTCP_Close();

    long answered = tally.done + tally.corrupted;
    double exchange = tally.lastAnswered > tally.firstSent
                          ? std::chrono::duration<double>(tally.lastAnswered - tally.firstSent).count()
                          : 0;
    double rate = exchange > 0 ? static_cast<double>(answered) / exchange : 0;
    printf("stations %ld (opened %ld), %ld messages of %ld bytes each, %.2f s in all, %.2f s of messages\n",
           cfg.stations, tally.opened.load(), cfg.messages, cfg.size, seconds, exchange);
    printf("messages/s %.0f, bytes/s %.0f (both directions)\n", rate, rate * 2.0 * static_cast<double>(cfg.size));
    printf("round trip p50 %.2f ms, p99 %.2f ms\n", Percentile(tally.roundTripsMs, 0.50),
           Percentile(tally.roundTripsMs, 0.99));
    printf("lost %ld, corrupted %ld\n", tally.lost.load(), tally.corrupted.load());
    if (tally.opened == 0) return EXIT_OPEN;
    return tally.lost == 0 && tally.corrupted == 0 ? EXIT_OK : EXIT_SESSION;
}
