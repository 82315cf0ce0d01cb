#include "serve.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "station.h"

namespace {

constexpr int BACKOFF_FIRST_MS = 10;
constexpr int BACKOFF_LAST_MS = 1000;

struct Shared {
    long count;
    StoppingFn stopping;
    std::atomic<long> started{0};
    std::atomic<int> exitCode{EXIT_OK};
};

// A worker keeps its slot: a fixed one (parallel), or the library's choice, kept after
// a failed open (the slot then still holds its prepared session) and chosen anew after
// a session that opened, as a listener serving one at a time always did.
void Work(Shared &shared, short fixedSlot, const ServeOneFn &serveOne)
{
    short slot = fixedSlot;
    int backoffMs = 0;
    while (!shared.stopping() && (shared.count < 0 || shared.started.fetch_add(1) < shared.count)) {
        int code = serveOne(slot);
        if (code != EXIT_OK) shared.exitCode = code;
        if (code != EXIT_OPEN) {
            backoffMs = 0;
            if (fixedSlot < 0) slot = -1;
            continue;
        }
        if (shared.stopping()) return;
        backoffMs = backoffMs == 0 ? BACKOFF_FIRST_MS : std::min(backoffMs * 2, BACKOFF_LAST_MS);
        std::this_thread::sleep_for(std::chrono::milliseconds(backoffMs));
    }
}

}  // namespace

int ServeSessions(int workers, long count, StoppingFn stopping, const ServeOneFn &serveOne)
{
    Shared shared;
    shared.count = count;
    shared.stopping = stopping;
    if (workers <= 1) {
        Work(shared, -1, serveOne);
        return shared.exitCode;
    }
    std::vector<std::thread> threads;
    threads.reserve(static_cast<size_t>(workers));
    for (int w = 0; w < workers; ++w) {
        threads.emplace_back(Work, std::ref(shared), static_cast<short>(w), std::cref(serveOne));
    }
    for (std::thread &t : threads) t.join();
    return shared.exitCode;
}
