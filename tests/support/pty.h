// Pseudo-terminals for tests of the serial path (Linux): one pair, and a "cable" that
// joins two pairs the way a null-modem cable joins two ports, so that two processes
// each open a real /dev/pts device.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <poll.h>
#include <pty.h>
#include <string>
#include <thread>
#include <unistd.h>

#include "support/tcp_peer.h"

struct Pty {
    int master = -1;
    int slave = -1;
    std::string path;
    Pty()
    {
        char name[64] = {};
        openpty(&master, &slave, name, nullptr, nullptr);
        path = name;
    }
    ~Pty()
    {
        close(master);
        close(slave);
    }
    void Write(const Bytes &b) { EXPECT_EQ(write(master, b.data(), b.size()), static_cast<ssize_t>(b.size())); }
    Bytes Read(size_t n, int timeoutMs = 1000)
    {
        Bytes out;
        pollfd p{master, POLLIN, 0};
        while (out.size() < n && poll(&p, 1, timeoutMs) == 1) {
            uint8_t chunk[4096];
            ssize_t k = read(master, chunk, std::min(sizeof chunk, n - out.size()));
            if (k <= 0) break;
            out.insert(out.end(), chunk, chunk + k);
        }
        return out;
    }
};

// Joins two pseudo-terminals the way a null-modem cable joins two ports.
class Cable {
public:
    Cable() : thread_([this] { Run(); }) {}
    ~Cable()
    {
        stop_ = true;
        thread_.join();
    }
    Pty a, b;

private:
    void Run()
    {
        while (!stop_) {
            pollfd p[2] = {{a.master, POLLIN, 0}, {b.master, POLLIN, 0}};
            if (poll(p, 2, 10) <= 0) continue;
            for (int i = 0; i < 2; ++i) {
                if (!(p[i].revents & POLLIN)) continue;
                uint8_t chunk[4096];
                ssize_t n = read(p[i].fd, chunk, sizeof chunk);
                if (n > 0 && write(i == 0 ? b.master : a.master, chunk, static_cast<size_t>(n)) != n) return;
            }
        }
    }
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

