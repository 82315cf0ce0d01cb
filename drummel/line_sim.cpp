// Simulated lines: two ports of one process opened as "sim:NAME,OPTIONS" with the same
// NAME are joined by a cable that has a speed and makes mistakes.
//
// Options, comma-separated, taken from the end that opens the cable first:
//   baud=B     bytes leave each end one after the other, ten bit times each (0: at
//              once); without it, the baud rate of the port's settings
//   error=P    each byte sent is, with probability P, dropped, changed in one bit or
//              followed by an extra random byte (a third of P each)
//   seed=S     the seed of those choices (0 without it): the same writes in the same
//              order make the same mistakes
//   drop=N, flip=N, insert=N   the byte number N (from 0, counting every byte written
//              into the cable from either end) is dropped, has its bit 0 changed, or is
//              followed by the byte 0x55; each may be given once
// The two directions are independent (a full-duplex cable).  Bytes written while the
// other end is not open are lost, as on a wire.
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <mutex>
#include <random>
#include <string>

#include "line.h"

using SimClock = std::chrono::steady_clock;

struct SimByte {
    uint8_t value;
    SimClock::time_point arrives;
};

struct SimCable {
    std::string name;
    std::deque<SimByte> toEnd[2];
    SimClock::time_point busyUntil[2];  // when the last byte sent by each end has left
    bool open[2] = {false, false};
    std::chrono::nanoseconds byteTime{0};
    double error = 0;
    std::mt19937_64 random;
    uint64_t written = 0;  // bytes written into the cable from either end
    int64_t dropAt = -1, flipAt = -1, insertAt = -1;
    SimCable *next = nullptr;
};

namespace {

std::mutex lock;
std::condition_variable arrived;
SimCable *cables = nullptr;

SimCable *Find(const std::string &name)
{
    for (SimCable *c = cables; c != nullptr; c = c->next) {
        if (c->name == name) return c;
    }
    return nullptr;
}

void Unlink(SimCable *cable)
{
    for (SimCable **c = &cables; *c != nullptr; c = &(*c)->next) {
        if (*c == cable) {
            *c = cable->next;
            return;
        }
    }
}

// Reads "key=value" options into the cable; false for an option it does not know.
bool Configure(SimCable &cable, const std::string &options, uint32_t settingsBaud)
{
    uint32_t baud = settingsBaud;
    uint64_t seed = 0;
    size_t at = 0;
    while (at < options.size()) {
        size_t comma = options.find(',', at);
        std::string item = options.substr(at, comma == std::string::npos ? std::string::npos : comma - at);
        at = comma == std::string::npos ? options.size() : comma + 1;
        size_t eq = item.find('=');
        if (eq == std::string::npos) return false;
        std::string key = item.substr(0, eq);
        const char *value = item.c_str() + eq + 1;
        char *end = nullptr;
        if (key == "error") {
            cable.error = strtod(value, &end);
        } else {
            unsigned long long n = strtoull(value, &end, 10);
            if (key == "baud") baud = static_cast<uint32_t>(n);
            else if (key == "seed") seed = n;
            else if (key == "drop") cable.dropAt = static_cast<int64_t>(n);
            else if (key == "flip") cable.flipAt = static_cast<int64_t>(n);
            else if (key == "insert") cable.insertAt = static_cast<int64_t>(n);
            else return false;
        }
        if (end == value || *end != '\0') return false;
    }
    if (cable.error < 0 || cable.error > 1) return false;
    cable.random.seed(seed);
    if (baud != 0) cable.byteTime = std::chrono::nanoseconds(10'000'000'000LL / baud);
    return true;
}

// Puts one byte on the way to the other end, with the cable's mistakes.
void Carry(SimCable &cable, std::deque<SimByte> &to, SimClock::time_point &leaves, uint8_t b)
{
    int64_t n = static_cast<int64_t>(cable.written++);
    double r = cable.error > 0 ? std::uniform_real_distribution<double>(0, 1)(cable.random) : 1;
    bool drop = n == cable.dropAt || r < cable.error / 3;
    bool flip = n == cable.flipAt || (r >= cable.error / 3 && r < cable.error * 2 / 3);
    bool insert = n == cable.insertAt || (r >= cable.error * 2 / 3 && r < cable.error);
    leaves += cable.byteTime;
    if (drop) return;
    if (flip) b ^= n == cable.flipAt ? 1 : static_cast<uint8_t>(1u << (cable.random() % 8));
    to.push_back({b, leaves});
    if (!insert) return;
    leaves += cable.byteTime;
    to.push_back({n == cable.insertAt ? static_cast<uint8_t>(0x55) : static_cast<uint8_t>(cable.random()), leaves});
}

}  // namespace

bool Sim_Open(Line &line, const std::string &target, const LineSettings &settings, std::string &reason)
{
    size_t comma = target.find(',');
    std::string name = target.substr(0, comma);
    std::lock_guard<std::mutex> hold(lock);
    SimCable *cable = Find(name);
    if (cable == nullptr) {
        cable = new SimCable;
        cable->name = name;
        if (!Configure(*cable, comma == std::string::npos ? "" : target.substr(comma + 1), settings.baud)) {
            delete cable;
            reason = "bad options of the simulated line: " + target;
            return false;
        }
        cable->next = cables;
        cables = cable;
    }
    int end = !cable->open[0] ? 0 : (!cable->open[1] ? 1 : -1);
    if (end < 0) {
        reason = "both ends of the simulated line are taken";
        return false;
    }
    cable->open[end] = true;
    cable->toEnd[end].clear();
    cable->busyUntil[end] = SimClock::now();
    line.sim = cable;
    line.end = end;
    return true;
}

void Sim_Close(Line &line)
{
    std::lock_guard<std::mutex> hold(lock);
    SimCable *cable = line.sim;
    if (cable == nullptr) return;
    cable->open[line.end] = false;
    cable->toEnd[line.end].clear();
    if (!cable->open[0] && !cable->open[1]) {
        Unlink(cable);
        delete cable;
    }
    line.sim = nullptr;
}

int Sim_Read(Line &line, uint8_t *buffer, size_t max)
{
    std::lock_guard<std::mutex> hold(lock);
    std::deque<SimByte> &in = line.sim->toEnd[line.end];
    auto now = SimClock::now();
    size_t n = 0;
    while (n < max && !in.empty() && in.front().arrives <= now) {
        buffer[n++] = in.front().value;
        in.pop_front();
    }
    return static_cast<int>(n);
}

void Sim_Wait(Line &line, uint32_t ms)
{
    std::unique_lock<std::mutex> hold(lock);
    std::deque<SimByte> &in = line.sim->toEnd[line.end];
    auto deadline = SimClock::now() + std::chrono::milliseconds(ms);
    for (;;) {
        auto now = SimClock::now();
        if ((!in.empty() && in.front().arrives <= now) || now >= deadline) return;
        auto until = !in.empty() && in.front().arrives < deadline ? in.front().arrives : deadline;
        arrived.wait_until(hold, until);
    }
}

bool Sim_Write(Line &line, const uint8_t *data, size_t length)
{
    {
        std::lock_guard<std::mutex> hold(lock);
        SimCable &cable = *line.sim;
        int other = 1 - line.end;
        SimClock::time_point &leaves = cable.busyUntil[line.end];
        auto now = SimClock::now();
        if (leaves < now) leaves = now;
        std::deque<SimByte> lost;
        std::deque<SimByte> &to = cable.open[other] ? cable.toEnd[other] : lost;
        for (size_t i = 0; i < length; ++i) Carry(cable, to, leaves, data[i]);
    }
    arrived.notify_all();
    return true;
}

bool Sim_Drained(Line &line)
{
    std::lock_guard<std::mutex> hold(lock);
    return line.sim->busyUntil[line.end] <= SimClock::now();
}

void Sim_Flush(Line &line)
{
    std::lock_guard<std::mutex> hold(lock);
    std::deque<SimByte> &in = line.sim->toEnd[line.end];
    auto now = SimClock::now();
    while (!in.empty() && in.front().arrives <= now) in.pop_front();
}
