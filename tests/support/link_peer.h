// A scripted station on the far end of a link port.  The port under test is configured
// (DRUMMEL_PORT<n>) as a TCP line to this peer, which reads and writes raw link frames:
// it answers, stays silent, or sends noise and damaged frames on the test's command.
#pragma once

#include <cstdint>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "shared/environment.h"
#include "support/tcp_peer.h"

// Loads the component built with the tests and sends its traces to a file of the test.
void UseBuiltComponent();

// The trace lines written through the component since the last call, text only.
std::vector<std::string> TakeTraces();

class LinkPeer {
public:
    // Listens, points port `port` at itself and opens it with LINK_Open (character wait
    // waitMs).  False when the port did not open.
    bool Open(short port, uint16_t waitMs = 100);

    // One frame as the link encodes it.
    static Bytes Frame(uint8_t header, const Bytes &data = Bytes());
    void Send(const Bytes &bytes) { tcp_.Send(bytes); }
    // Raw frames received (each from 0x12 to 0x0D) until none comes for timeoutMs, or
    // until `most` have come.
    std::vector<Bytes> Frames(uint32_t timeoutMs = 300, size_t most = SIZE_MAX);

private:
    TcpPeer tcp_;
};
