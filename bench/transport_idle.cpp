// CPU used by the transport's waits: a send to a peer that does not read, and a receive
// that waits for nothing until its time-out.  Each reports the process's CPU time
// (getrusage) as a percentage of one core over the wall time of the wait.
//
//   build/linux/bench/bench_transport_idle                      # 5-second waits
//   VARNEK_IDLE_SECONDS=60 build/linux/bench/bench_transport_idle
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <chrono>
#include <cstdlib>
#include <vector>

#include "support/tcp_peer.h"
#include "varnek.h"

namespace {

using Clock = std::chrono::steady_clock;
Clock::time_point stopAt;

int VKAPI StopWhenDue() { return Clock::now() >= stopAt ? 1 : 0; }

double CpuSeconds()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

int IdleSeconds()
{
    const char *text = getenv("VARNEK_IDLE_SECONDS");
    return text != nullptr ? atoi(text) : 5;
}

template <typename Wait>
void MeasureIdle(benchmark::State &state, Wait wait)
{
    for (auto _ : state) {
        double cpu0 = CpuSeconds();
        auto wall0 = Clock::now();
        short rc = wait();
        double wall = std::chrono::duration<double>(Clock::now() - wall0).count();
        double cpu = CpuSeconds() - cpu0;
        state.counters["result"] = rc;
        state.counters["wall_s"] = wall;
        state.counters["cpu_percent"] = 100.0 * cpu / wall;
    }
}

void BM_SendToPeerThatDoesNotRead(benchmark::State &state)
{
    SocketService service;
    TcpPeer peer;
    int32_t s = peer.ConnectLibrary();
    std::vector<uint8_t> block(60000, 0x55);
    MeasureIdle(state, [&] {
        stopAt = Clock::now() + std::chrono::seconds(IdleSeconds());
        ABORT_SetFunc(StopWhenDue);
        short rc = 0;
        while (rc == 0) rc = TCPAPI_Send(s, block.data(), static_cast<uint16_t>(block.size()));
        ABORT_SetFunc(nullptr);
        return rc;
    });
    TCPAPI_Close(s);
}

void BM_ReceiveWaitingForNothing(benchmark::State &state)
{
    SocketService service;
    TcpPeer peer;
    int32_t s = peer.ConnectLibrary();
    TCPAPI_SetTimeout(IdleSeconds() * 1000);
    MeasureIdle(state, [&] {
        uint8_t buffer[16];
        uint16_t count = sizeof buffer;
        return TCPAPI_WaitForData(s, buffer, &count);
    });
    TCPAPI_Close(s);
}

}  // namespace

BENCHMARK(BM_SendToPeerThatDoesNotRead)->Iterations(1)->UseRealTime()->Unit(benchmark::kSecond);
BENCHMARK(BM_ReceiveWaitingForNothing)->Iterations(1)->UseRealTime()->Unit(benchmark::kSecond);
BENCHMARK_MAIN();
