// Link payload throughput on a simulated line at 9600 and 115200 baud against the
// line's own limit for the same exchange: the data frame and its acknowledgement, ten
// bit times a byte, back to back.  The counter of_limit is the ratio (1 = no time lost
// between frames).
#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdlib>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "varnek.h"

#ifndef VARNEK_DRUMMEL_PATH
#error "VARNEK_DRUMMEL_PATH must name the built serial-port component"
#endif

namespace {

constexpr short SENDER = 71;
constexpr short ANSWERER = 72;

void SimulatedLine(benchmark::State &state)
{
    auto baud = static_cast<uint32_t>(state.range(0));
    auto size = static_cast<uint16_t>(state.range(1));
    std::string spec = "sim:throughput" + std::to_string(baud) + ",baud=" + std::to_string(baud);
    setenv("VARNEK_DRUMMEL", VARNEK_DRUMMEL_PATH, 0);
    setenv("DRUMMEL_PORT71", spec.c_str(), 1);
    setenv("DRUMMEL_PORT72", spec.c_str(), 1);
    auto hundreds = static_cast<uint16_t>(baud / 100);
    if (LINK_Open(SENDER, hundreds, 8, 'N', 1, 0, 1000, 0) != 1 || LINK_Open(ANSWERER, hundreds, 8, 'N', 1, 0, 1000, 0) != 1) {
        state.SkipWithError("the ports did not open");
        return;
    }
    std::vector<uint8_t> block(size);
    std::mt19937 rng(3);
    for (auto &b : block) b = static_cast<uint8_t>(rng());
    std::atomic<bool> stop{false};
    std::thread answerer([&] {
        std::vector<uint8_t> in(4096);
        while (!stop) {
            if (LINK_Receive(ANSWERER, in.data(), static_cast<uint16_t>(in.size())) > 1) LINK_SndAck(ANSWERER);
        }
    });
    uint8_t answer[64];
    std::vector<uint8_t> encoded(2 * size + 8);
    uint16_t frameBytes = LINK_Encode(encoded.data(), 0xC0, block.data(), size);
    for (auto _ : state) {
        if (LINK_Send(SENDER, block.data(), size) != 1 || LINK_Receive(SENDER, answer, sizeof answer) != 1) {
            state.SkipWithError("the exchange failed");
            break;
        }
    }
    stop = true;
    LINK_SetMaxRetry(ANSWERER, 0);
    answerer.join();
    LINK_Close(SENDER);
    LINK_Close(ANSWERER);
    double limitSeconds = (frameBytes + 5) * 10.0 / baud;  // the frame and a five-byte acknowledgement
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * size);
    state.counters["of_limit"] = benchmark::Counter(static_cast<double>(state.iterations()) * limitSeconds,
                                                    benchmark::Counter::kIsRate);
}

BENCHMARK(SimulatedLine)->Args({9600, 520})->Iterations(6)->UseRealTime();
BENCHMARK(SimulatedLine)->Args({9600, 2076})->Iterations(3)->UseRealTime();
BENCHMARK(SimulatedLine)->Args({115200, 520})->Iterations(60)->UseRealTime();
BENCHMARK(SimulatedLine)->Args({115200, 2076})->Iterations(30)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
