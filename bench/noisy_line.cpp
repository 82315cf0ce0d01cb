// Echoes over a simulated noisy line, run after run: how many complete, with how many
// retransmissions and in what time.  Not part of CI (minutes per case).
//
//   bench_noisy_line [RUNS] [BYTES] [WAIT_MS] [LINE OPTIONS] [RECORD CODE] [FIRST SEED]
// Without arguments it runs the two standard cases, ten runs each: 200,000 bytes at
// one error in 10,000 bytes with the full record, and at one in 1,000 with the 520-byte
// record (LINKAPI_NuRecSize 8738).  Each run's cable has its own seed.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

#include "support/noisy_echo.h"

#ifndef VARNEK_DRUMMEL_PATH
#error "VARNEK_DRUMMEL_PATH must name the built serial-port component"
#endif

namespace {

int RunCase(int runs, size_t bytes, uint16_t waitMs, const std::string &options, uint16_t recordCode, int firstSeed = 1)
{
    int complete = 0, retries = 0;
    double seconds = 0;
    printf("case: %zu bytes echoed, line %s, character wait %u ms, record code %u\n", bytes, options.c_str(), waitMs,
           recordCode);
    for (int run = 1; run <= runs; ++run) {
        int seed = firstSeed + run - 1;
        NoisyEcho echo;
        echo.line = "sim:bench" + std::to_string(run) + "," + options + ",seed=" + std::to_string(seed);
        echo.bytes = bytes;
        echo.waitMs = waitMs;
        echo.recordCode = recordCode;
        const char *component = getenv("VARNEK_DRUMMEL");
        NoisyEchoResult r = NoisyEcho_Run(echo, component != nullptr ? component : VARNEK_DRUMMEL_PATH, "/tmp/varnek-bench-noisy-" + std::to_string(getpid()) + ".txt");
        printf("  run %2d (seed %d): %s, %4d retries, %6.1f s\n", run, seed, r.echoed ? "complete" : "FAILED  ",
               r.retries, r.seconds);
        fflush(stdout);
        complete += r.echoed ? 1 : 0;
        retries += r.retries;
        seconds += r.seconds;
    }
    printf("  %d of %d complete; %.1f retries and %.1f s per run on average\n\n", complete, runs,
           static_cast<double>(retries) / runs, seconds / runs);
    return complete == runs ? 0 : 1;
}

}  // namespace

int main(int argc, char **argv)
{
    if (argc > 1) {
        int runs = atoi(argv[1]);
        size_t bytes = argc > 2 ? strtoul(argv[2], nullptr, 10) : 200000;
        auto waitMs = static_cast<uint16_t>(argc > 3 ? atoi(argv[3]) : 1000);
        std::string options = argc > 4 ? argv[4] : "baud=115200,error=1e-4";
        auto code = static_cast<uint16_t>(argc > 5 ? atoi(argv[5]) : 0);
        return RunCase(runs, bytes, waitMs, options, code, argc > 6 ? atoi(argv[6]) : 1);
    }
    int failed = RunCase(10, 200000, 200, "baud=115200,error=1e-4", 0);
    failed += RunCase(10, 200000, 200, "baud=115200,error=1e-3", 8738);
    return failed;
}
