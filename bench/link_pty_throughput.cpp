// Link payload throughput over a pseudo-terminal against the stop-and-wait limit of
// the same frames on the same kind of line.  A station on the master side answers
// every data frame with an acknowledgement.  The baseline writes the encoded frames
// straight to the terminal and reads the answers with poll() and read(): the plainest
// way to run the same stop-and-wait exchange.  The link runs through the serial-port
// component (LINK_Send, LINK_Receive).  Compare the bytes_per_second of the pairs of
// the same block size.
#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <random>
#include <string>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "varnek.h"

#ifndef VARNEK_DRUMMEL_PATH
#error "VARNEK_DRUMMEL_PATH must name the built serial-port component"
#endif

namespace {

using Bytes = std::vector<uint8_t>;

// The far station: reads frames on the master side and acknowledges each data frame.
class Answerer {
public:
    explicit Answerer(int fd) : fd_(fd), thread_([this] { Run(); }) {}
    ~Answerer()
    {
        stop_ = true;
        thread_.join();
    }

private:
    void Run()
    {
        Bytes frame;
        uint8_t chunk[8192];
        while (!stop_) {
            pollfd p{fd_, POLLIN, 0};
            if (poll(&p, 1, 20) <= 0) continue;
            ssize_t n = read(fd_, chunk, sizeof chunk);
            for (ssize_t i = 0; i < n; ++i) {
                if (frame.empty() && chunk[i] != 0x12) continue;
                frame.push_back(chunk[i]);
                if (chunk[i] == 0x0D && frame.size() >= 5) Acknowledge(frame);
                if (chunk[i] == 0x0D) frame.clear();
            }
        }
    }
    void Acknowledge(Bytes &frame)
    {
        uint8_t header = frame[1] == 0x10 ? frame[2] & 0x7F : frame[1];
        uint8_t ack[8];
        uint16_t n = LINK_Encode(ack, static_cast<uint8_t>(0x81 | ((header + 1) & 7) << 3), nullptr, 0);
        if (write(fd_, ack, n) != n) stop_ = true;
    }
    int fd_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

struct PtyPair {
    int master = -1, slave = -1;
    std::string path;
    PtyPair()
    {
        char name[64] = {};
        termios raw{};
        cfmakeraw(&raw);
        openpty(&master, &slave, name, &raw, nullptr);
        path = name;
    }
    ~PtyPair()
    {
        close(master);
        close(slave);
    }
};

Bytes Block(size_t n)
{
    Bytes b(n);
    std::mt19937 rng(5);
    for (auto &x : b) x = static_cast<uint8_t>(rng());
    return b;
}

void RawStopAndWait(benchmark::State &state)
{
    PtyPair pty;
    Answerer answerer(pty.master);
    int fd = open(pty.path.c_str(), O_RDWR | O_NOCTTY);
    Bytes block = Block(static_cast<size_t>(state.range(0)));
    Bytes frame(2 * block.size() + 8);
    uint8_t chunk[64];
    for (auto _ : state) {
        static uint8_t seq = 0;
        uint16_t n = LINK_Encode(frame.data(), static_cast<uint8_t>(0xC0 | seq++ % 8), block.data(),
                                 static_cast<uint16_t>(block.size()));
        for (size_t at = 0; at < n;) at += static_cast<size_t>(write(fd, frame.data() + at, n - at));
        for (bool done = false; !done;) {
            pollfd p{fd, POLLIN, 0};
            if (poll(&p, 1, 1000) <= 0) break;
            ssize_t k = read(fd, chunk, sizeof chunk);
            for (ssize_t i = 0; i < k; ++i) done = done || chunk[i] == 0x0D;
        }
    }
    close(fd);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * block.size()));
}

void LinkStopAndWait(benchmark::State &state)
{
    PtyPair pty;
    Answerer answerer(pty.master);
    setenv("VARNEK_DRUMMEL", VARNEK_DRUMMEL_PATH, 0);  // VARNEK_DRUMMEL may name another component
    setenv("DRUMMEL_PORT61", pty.path.c_str(), 1);
    if (LINK_Open(61, 1152, 8, 'N', 1, 0, 1000, 0) != 1) {
        state.SkipWithError("the port did not open");
        return;
    }
    Bytes block = Block(static_cast<size_t>(state.range(0)));
    uint8_t answer[64];
    for (auto _ : state) {
        if (LINK_Send(61, block.data(), static_cast<uint16_t>(block.size())) != 1 ||
            LINK_Receive(61, answer, sizeof answer) != 1) {
            state.SkipWithError("the exchange failed");
            break;
        }
    }
    LINK_Close(61);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * block.size()));
}

BENCHMARK(RawStopAndWait)->Arg(520)->Arg(2076)->UseRealTime();
BENCHMARK(LinkStopAndWait)->Arg(520)->Arg(2076)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
