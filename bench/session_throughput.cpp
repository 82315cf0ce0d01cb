// Session throughput over loopback, between two sessions of this process: round trips
// per second of 100-byte messages (each answered by a 4-byte one), and MB/s of 1 MB
// messages sent one way (each answered by 4 bytes), compressed (version 2) and plain
// (version 0).  The listener answers on its own thread.
//
// Beside them, the loopback's limit for the same traffic: 1 MB written in 259-byte
// writes (a plain session frame's size) on a TCP_NODELAY socket, read by a thread with
// large reads and answered by 4 bytes.  At the end the 1 MB rates are printed as
// fractions of that limit (medians when repetitions are asked for).
//
//   build/linux/bench/bench_session_throughput --benchmark_repetitions=5
//       --benchmark_enable_random_interleaving=true --benchmark_report_aggregates_only=true
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "median_rates.h"
#include "session/session.h"
#include "support/session_pair.h"
#include "support/tcp_peer.h"
#include "zip/zip.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes MixedMessage(size_t n)
{
    std::mt19937 rng(5);
    Bytes body(n);
    for (size_t i = 0; i < n; ++i) body[i] = static_cast<uint8_t>(i % 4 == 0 ? rng() : "TRANSACTION 0123 "[i % 17]);
    return body;
}

// Writes a message in pieces of at most 60000 bytes and ends it.
void Write(short id, const Bytes &body)
{
    for (size_t at = 0; at < body.size(); at += 60000) {
        size_t n = std::min<size_t>(60000, body.size() - at);
        Session_TxStruct(id, body.data() + at, static_cast<uint16_t>(n));
    }
    Session_EOM(id);
}

void Read(short id, Bytes &body)
{
    for (size_t at = 0; at < body.size(); at += 60000) {
        size_t n = std::min<size_t>(60000, body.size() - at);
        Session_RxStruct(id, body.data() + at, static_cast<uint16_t>(n));
    }
}

int VKAPI ShowStatus(uint16_t port, const char *text, uint16_t)
{
    fprintf(stderr, "status: port %u: %s\n", static_cast<unsigned>(port), text);
    return 0;
}

void Exchange(benchmark::State &state, size_t size, uint8_t version)
{
    Session_Reset();
    SESSION_SetDispFunc(ShowStatus);
    PCTCP_Open();
    ZIP_SetOfferedVersion(version);
    SessionPair pair;
    if (!OpenPair(pair)) {
        state.SkipWithError("the sessions did not open");
        return;
    }
    APPCOM_SetSes2Port(pair.caller, 100);
    APPCOM_SetSes2Port(pair.listener, 200);
    Bytes body = MixedMessage(size);
    body[0] = 0;  // the last message is marked 0xFF
    std::thread answerer([&] {
        Bytes in(size);
        do {
            Read(pair.listener, in);
            Session_TxLong(pair.listener, static_cast<uint32_t>(in.size()));
            Session_EOM(pair.listener);
        } while (in[0] != 0xFF);
    });
    uint32_t ack = 0;
    long sent = 0;
    for (auto _ : state) {
        Write(pair.caller, body);
        Session_RxLong(pair.caller, &ack);
        ++sent;
    }
    body[0] = 0xFF;
    Write(pair.caller, body);
    Session_RxLong(pair.caller, &ack);
    answerer.join();
    state.SetBytesProcessed(sent * static_cast<int64_t>(size));
    state.SetItemsProcessed(sent);
    state.counters["version"] = version;
    Session_Release(pair.caller, ReleasePause::No);
    Session_Release(pair.listener, ReleasePause::No);
    ZIP_SetOfferedVersion(ZIP_DEFAULT_VERSION);
    PCTCP_Close();
}

void BM_RoundTrips100Bytes(benchmark::State &state) { Exchange(state, 100, static_cast<uint8_t>(state.range(0))); }
void BM_OneMegabyteMessages(benchmark::State &state) { Exchange(state, 1000000, static_cast<uint8_t>(state.range(0))); }

// ------------------------------------------------------------------ the loopback's limit

constexpr size_t LIMIT_WRITE = 259;
constexpr size_t LIMIT_MESSAGE = 1000000;

bool SendAll(int s, const uint8_t *data, size_t n)
{
    while (n > 0) {
        ssize_t k = send(s, data, n, MSG_NOSIGNAL);
        if (k <= 0) return false;
        data += k;
        n -= static_cast<size_t>(k);
    }
    return true;
}

bool ReceiveAll(int s, uint8_t *data, size_t n)
{
    while (n > 0) {
        ssize_t k = recv(s, data, n, 0);
        if (k <= 0) return false;
        data += k;
        n -= static_cast<size_t>(k);
    }
    return true;
}

// A connected pair of blocking loopback sockets: [0] writes, [1] reads.
bool LoopbackPair(int pair[2])
{
    int listener = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof sa;
    bool ok = bind(listener, reinterpret_cast<sockaddr *>(&sa), sizeof sa) == 0 && listen(listener, 1) == 0 &&
              getsockname(listener, reinterpret_cast<sockaddr *>(&sa), &len) == 0;
    pair[0] = socket(AF_INET, SOCK_STREAM, 0);
    ok = ok && connect(pair[0], reinterpret_cast<sockaddr *>(&sa), sizeof sa) == 0;
    pair[1] = ok ? accept(listener, nullptr, nullptr) : -1;
    close(listener);
    int on = 1;
    setsockopt(pair[0], IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    setsockopt(pair[1], IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    return pair[1] >= 0;
}

void BM_LoopbackLimit(benchmark::State &state)
{
    int pair[2] = {-1, -1};
    if (!LoopbackPair(pair)) {
        state.SkipWithError("no loopback connection");
        return;
    }
    Bytes body = MixedMessage(LIMIT_MESSAGE);
    std::thread reader([&] {
        Bytes in(1 << 16);
        uint8_t ack[4] = {};
        for (;;) {
            size_t got = 0;
            while (got < LIMIT_MESSAGE) {
                ssize_t k = recv(pair[1], in.data(), std::min(in.size(), LIMIT_MESSAGE - got), 0);
                if (k <= 0) return;
                got += static_cast<size_t>(k);
            }
            if (!SendAll(pair[1], ack, sizeof ack)) return;
        }
    });
    long sent = 0;
    uint8_t ack[4];
    for (auto _ : state) {
        for (size_t at = 0; at < LIMIT_MESSAGE; at += LIMIT_WRITE) {
            SendAll(pair[0], body.data() + at, std::min(LIMIT_WRITE, LIMIT_MESSAGE - at));
        }
        ReceiveAll(pair[0], ack, sizeof ack);
        ++sent;
    }
    shutdown(pair[0], SHUT_RDWR);
    reader.join();
    close(pair[0]);
    close(pair[1]);
    state.SetBytesProcessed(sent * static_cast<int64_t>(LIMIT_MESSAGE));
}

// A run's name without its "/min_time:..." part.
// Prints the runs as the console does and, at the end, each 1 MB rate over the limit.
class FractionReporter : public MedianRates {
public:
    void Finalize() override
    {
        ConsoleReporter::Finalize();
        double limit = Rate("BM_LoopbackLimit/real_time");
        if (limit <= 0) return;
        printf("\n1 MB messages over the loopback limit (%.1f MB/s):\n", limit / 1e6);
        for (const char *version : {"2", "0"}) {
            double rate = Rate(std::string("BM_OneMegabyteMessages/") + version + "/real_time");
            if (rate <= 0) continue;
            printf("  version %s: %.1f MB/s = %.3f of the limit\n", version, rate / 1e6, rate / limit);
        }
    }
};

}  // namespace

BENCHMARK(BM_RoundTrips100Bytes)->Arg(2)->Arg(0)->UseRealTime()->Unit(benchmark::kMicrosecond)->MinTime(2.0);
BENCHMARK(BM_OneMegabyteMessages)->Arg(2)->Arg(0)->UseRealTime()->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_LoopbackLimit)->UseRealTime()->Unit(benchmark::kMillisecond)->MinTime(2.0);

int main(int argc, char **argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    FractionReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
