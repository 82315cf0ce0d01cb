// An echo over a simulated line: a station on link port 1 sends one message peer to
// peer, a station on port 2 (its own thread) sends it back, and the caller closes.
// Used by the noise tests and by the noisy-line benchmark.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

struct NoisyEcho {
    std::string line;          // the description of the line: "sim:NAME,..."
    size_t bytes = 20000;      // message size (random bytes, incompressible)
    uint16_t waitMs = 100;     // the component's character wait
    uint16_t recordCode = 0;   // LINKAPI_NuRecSize code after the open (0: none)
    uint16_t baudHundreds = 96;
};

struct NoisyEchoResult {
    bool echoed = false;  // the message came back intact and both sides ended cleanly
    double seconds = 0;   // from the open to the close
    int retries = 0;      // "Retry to send" on both ports
};

// Runs the echo with the component at componentPath and its traces in traceFile.
NoisyEchoResult NoisyEcho_Run(const NoisyEcho &echo, const std::string &componentPath, const std::string &traceFile);
