#include "support/link_peer.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "shared/wire.h"
#include "varnek.h"

#ifndef VARNEK_DRUMMEL_PATH
#error "VARNEK_DRUMMEL_PATH must name the built serial-port component"
#endif

namespace {
std::string traceFile;

// One trace file per test: tests may run in parallel processes.
std::string TraceFile()
{
    if (traceFile.empty()) {
        const ::testing::TestInfo *test = ::testing::UnitTest::GetInstance()->current_test_info();
        std::string name = test != nullptr ? std::string(test->test_suite_name()) + "." + test->name() : "link";
        traceFile = ::testing::TempDir() + "varnek-trace-" + name + ".txt";
    }
    return traceFile;
}
}  // namespace

void UseBuiltComponent()
{
    traceFile.clear();
    SetEnvironment("VARNEK_DRUMMEL", VARNEK_DRUMMEL_PATH);
    SetEnvironment("DRUMMEL_DEBUG", TraceFile());
    remove(TraceFile().c_str());
}

std::vector<std::string> TakeTraces()
{
    std::vector<std::string> lines;
    std::ifstream in(TraceFile());
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty()) continue;  // traces that begin with a line break
        size_t blank = line.find(' ');
        bool numbered = blank != std::string::npos && line.find_first_not_of("0123456789") == blank;
        lines.push_back(numbered ? line.substr(blank + 1) : line);
    }
    in.close();
    remove(TraceFile().c_str());
    return lines;
}

bool LinkPeer::Open(short port, uint16_t waitMs)
{
    uint16_t tcpPort = tcp_.Listen();
    SetEnvironment("DRUMMEL_PORT" + std::to_string(port), "tcp:127.0.0.1:" + std::to_string(tcpPort));
    if (LINK_Open(port, 96, 8, 'N', 1, 0, waitMs, 0) != 1) return false;
    return tcp_.Accept();
}

Bytes LinkPeer::Frame(uint8_t header, const Bytes &data)
{
    Bytes out(2 * data.size() + 8);
    out.resize(LINK_Encode(out.data(), header, data.data(), static_cast<uint16_t>(data.size())));
    return out;
}

std::vector<Bytes> LinkPeer::Frames(uint32_t timeoutMs, size_t most)
{
    std::vector<Bytes> frames;
    LinkFrameCutter cutter;
    while (frames.size() < most) {
        Bytes b = tcp_.Receive(1, timeoutMs);
        if (b.empty()) break;
        if (cutter.Push(b[0])) frames.push_back(cutter.Frame());
    }
    return frames;
}
