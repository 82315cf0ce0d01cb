// Two sessions of this process opened to each other over loopback: a listener (passive
// open, run on a helper thread until it has opened) and a caller.  After the open both
// are driven from the test's thread, one call at a time.
#pragma once

#include "varnek.h"

struct PairOptions {
    uint16_t port = 0;              // 0: a free port, and a new listening socket
    bool listenerServiceZero = false;  // the listener passes service 0 (needs `port` of a kept socket)
    bool keepListening = false;     // leave the listening socket open for the next pair
    uint8_t callerOption = 9;
};

struct SessionPair {
    short caller = -1;
    short listener = -1;
    short callerOpen = 0;
    short listenerOpen = 0;
    uint16_t port = 0;
    SessionPeerInfo callerPeer{};
    SessionPeerInfo listenerPeer{};
    SessionOpenParams listenerParams{};  // as the listener's open left them
};

// True when both opened.
bool OpenPair(SessionPair &pair, const PairOptions &options = PairOptions());
