// cable.h - pseudo-terminals (Linux): one pair, and a cable that joins two pairs the way
// a null-modem cable joins two ports, so that two stations, in one process or two, each
// open a real /dev/pts device.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>
#include <vector>

// A pseudo-terminal: a program opens path (the slave side); master is the far end.
struct Pty {
    int master = -1;
    int slave = -1;
    std::string path;
    Pty();
    ~Pty();
    Pty(const Pty &) = delete;
    Pty &operator=(const Pty &) = delete;

    // Writes the bytes to the far end: false when not all went.
    bool Write(const std::vector<uint8_t> &bytes);
    // Reads up to n bytes from the far end, waiting up to timeoutMs for each piece.
    std::vector<uint8_t> Read(size_t n, int timeoutMs = 1000);
};

// Two pseudo-terminals joined like a null-modem cable.  The watch, when given, sees
// every piece that passes, with the side it came from (0: a, 1: b), on the cable's own
// thread.
class Cable {
public:
    using Watch = std::function<void(int from, const uint8_t *data, size_t n)>;
    explicit Cable(Watch watch = nullptr);
    ~Cable();
    Cable(const Cable &) = delete;
    Cable &operator=(const Cable &) = delete;

    Pty a, b;

private:
    void Run();
    Watch watch_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};
