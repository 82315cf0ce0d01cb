// Memory lines: two ports of one process opened as "mem:NAME" with the same NAME are
// joined by a pair of byte queues.
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <string>

#include "line.h"

struct MemoryPipe {
    std::string name;
    std::deque<uint8_t> toEnd[2];  // bytes waiting for end 0 and end 1
    bool open[2] = {false, false};
    MemoryPipe *next = nullptr;
};

namespace {

std::mutex lock;
std::condition_variable arrived;
MemoryPipe *pipes = nullptr;

MemoryPipe *Find(const std::string &name)
{
    for (MemoryPipe *p = pipes; p != nullptr; p = p->next) {
        if (p->name == name) return p;
    }
    return nullptr;
}

void Unlink(MemoryPipe *pipe)
{
    for (MemoryPipe **p = &pipes; *p != nullptr; p = &(*p)->next) {
        if (*p == pipe) {
            *p = pipe->next;
            return;
        }
    }
}

}  // namespace

bool Memory_Open(Line &line, const char *name)
{
    std::lock_guard<std::mutex> hold(lock);
    MemoryPipe *pipe = Find(name);
    if (pipe == nullptr) {
        pipe = new MemoryPipe;
        pipe->name = name;
        pipe->next = pipes;
        pipes = pipe;
    }
    int end = !pipe->open[0] ? 0 : (!pipe->open[1] ? 1 : -1);
    if (end < 0) return false;  // both ends taken
    pipe->open[end] = true;
    pipe->toEnd[end].clear();
    line.pipe = pipe;
    line.end = end;
    return true;
}

void Memory_Close(Line &line)
{
    std::lock_guard<std::mutex> hold(lock);
    MemoryPipe *pipe = line.pipe;
    if (pipe == nullptr) return;
    pipe->open[line.end] = false;
    pipe->toEnd[line.end].clear();
    if (!pipe->open[0] && !pipe->open[1]) {
        Unlink(pipe);
        delete pipe;
    }
    line.pipe = nullptr;
}

int Memory_Read(Line &line, uint8_t *buffer, size_t max)
{
    std::lock_guard<std::mutex> hold(lock);
    std::deque<uint8_t> &in = line.pipe->toEnd[line.end];
    size_t n = 0;
    while (n < max && !in.empty()) {
        buffer[n++] = in.front();
        in.pop_front();
    }
    return static_cast<int>(n);
}

void Memory_Wait(Line &line, uint32_t ms)
{
    std::unique_lock<std::mutex> hold(lock);
    std::deque<uint8_t> &in = line.pipe->toEnd[line.end];
    arrived.wait_for(hold, std::chrono::milliseconds(ms), [&] { return !in.empty(); });
}

bool Memory_Write(Line &line, const uint8_t *data, size_t length)
{
    {
        std::lock_guard<std::mutex> hold(lock);
        int other = 1 - line.end;
        if (!line.pipe->open[other]) return true;  // nobody on the other end: the bytes are lost, as on a wire
        line.pipe->toEnd[other].insert(line.pipe->toEnd[other].end(), data, data + length);
    }
    arrived.notify_all();
    return true;
}

void Memory_Flush(Line &line)
{
    std::lock_guard<std::mutex> hold(lock);
    line.pipe->toEnd[line.end].clear();
}
