#include "shared/cable.h"

#include <algorithm>
#include <poll.h>
#include <pty.h>
#include <unistd.h>

namespace {

constexpr int POLL_MS = 10;
constexpr size_t CHUNK = 4096;

}  // namespace

Pty::Pty()
{
    char name[64] = {};
    openpty(&master, &slave, name, nullptr, nullptr);
    path = name;
}

Pty::~Pty()
{
    if (master >= 0) close(master);
    if (slave >= 0) close(slave);
}

bool Pty::Write(const std::vector<uint8_t> &bytes)
{
    return write(master, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
}

std::vector<uint8_t> Pty::Read(size_t n, int timeoutMs)
{
    std::vector<uint8_t> out;
    pollfd p{master, POLLIN, 0};
    while (out.size() < n && poll(&p, 1, timeoutMs) == 1) {
        uint8_t chunk[CHUNK];
        ssize_t k = read(master, chunk, std::min(sizeof chunk, n - out.size()));
        if (k <= 0) break;
        out.insert(out.end(), chunk, chunk + k);
    }
    return out;
}

Cable::Cable(Watch watch) : watch_(std::move(watch)), thread_([this] { Run(); }) {}

Cable::~Cable()
{
    stop_ = true;
    thread_.join();
}

void Cable::Run()
{
    while (!stop_) {
        pollfd p[2] = {{a.master, POLLIN, 0}, {b.master, POLLIN, 0}};
        if (poll(p, 2, POLL_MS) <= 0) continue;
        for (int i = 0; i < 2; ++i) {
            if (!(p[i].revents & POLLIN)) continue;
            uint8_t chunk[CHUNK];
            ssize_t n = read(p[i].fd, chunk, sizeof chunk);
            if (n <= 0) continue;
            if (watch_) watch_(i, chunk, static_cast<size_t>(n));
            if (write(i == 0 ? b.master : a.master, chunk, static_cast<size_t>(n)) != n) return;
        }
    }
}
