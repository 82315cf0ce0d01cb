// The cost of a round trip as the session table fills: 100-byte compressed messages
// between two sessions of this process over loopback, each answered with 4 bytes, while
// 5 or 500 sessions are open in all (the others hold compression contexts and a slot,
// created before the measured pair, so they come first wherever the layers look).  The
// ratio of the two is the per-call cost that grows with the number of sessions.
//
//   build/linux/bench/bench_many_sessions --benchmark_repetitions=5
//       --benchmark_enable_random_interleaving=true --benchmark_report_aggregates_only=true
//   (one command line)
#include <benchmark/benchmark.h>

#include <thread>
#include <vector>

#include "session/session.h"
#include "support/session_pair.h"
#include "support/session_wiring.h"
#include "zip/zip.h"

namespace {

using Bytes = std::vector<uint8_t>;

void BM_RoundTripAmongSessions(benchmark::State &state)
{
    const int sessions = static_cast<int>(state.range(0));
    Session_Reset();
    PCTCP_Open();
    for (int i = 0; i < sessions - 2; ++i) WireSession(-1, TURN_SEND);
    SessionPair pair;
    if (!OpenPair(pair)) {
        state.SkipWithError("the sessions did not open");
        return;
    }
    Bytes body(100);
    for (size_t i = 0; i < body.size(); ++i) body[i] = static_cast<uint8_t>("TRANSACTION 0123 "[i % 17]);
    body[0] = 0;  // the last message is marked 0xFF
    std::thread answerer([&] {
        Bytes in(body.size());
        do {
            Session_RxStruct(pair.listener, in.data(), static_cast<uint16_t>(in.size()));
            Session_TxLong(pair.listener, static_cast<uint32_t>(in.size()));
            Session_EOM(pair.listener);
        } while (in[0] != 0xFF);
    });
    uint32_t ack = 0;
    for (auto _ : state) {
        Session_TxStruct(pair.caller, body.data(), static_cast<uint16_t>(body.size()));
        Session_EOM(pair.caller);
        Session_RxLong(pair.caller, &ack);
    }
    body[0] = 0xFF;
    Session_TxStruct(pair.caller, body.data(), static_cast<uint16_t>(body.size()));
    Session_EOM(pair.caller);
    Session_RxLong(pair.caller, &ack);
    answerer.join();
    state.SetItemsProcessed(state.iterations());
    ReleaseAllSessions();
    PCTCP_Close();
}

}  // namespace

BENCHMARK(BM_RoundTripAmongSessions)->Arg(5)->Arg(500)->UseRealTime()->Unit(benchmark::kMicrosecond)->MinTime(2.0);
BENCHMARK_MAIN();
