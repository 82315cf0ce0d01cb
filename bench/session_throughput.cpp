// Session throughput over loopback, between two sessions of this process: round trips
// per second of 100-byte messages (each answered by a 4-byte one), and MB/s of 1 MB
// messages sent one way (each answered by 4 bytes), compressed (version 2) and plain
// (version 0).  The listener answers on its own thread.
//
//   build/linux/bench/bench_session_throughput
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <random>
#include <thread>
#include <vector>

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

}  // namespace

BENCHMARK(BM_RoundTrips100Bytes)->Arg(2)->Arg(0)->UseRealTime()->Unit(benchmark::kMicrosecond)->MinTime(2.0);
BENCHMARK(BM_OneMegabyteMessages)->Arg(2)->Arg(0)->UseRealTime()->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK_MAIN();
