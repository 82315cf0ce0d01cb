// tcpapi.h - the TCP socket transport and the host's abort callback.
//
// The exported TCPAPI_, ABORT_ and PCTCP_ operations are declared in varnek.h; this
// header adds what other layers of the library use besides.
//
// Seams.  Every wait asks the host's abort callback through ABORT_Check (abort.h); the
// address text is read by address.h.  The transport calls nothing of the session layer
// except, in the socket service's start-up (PCTCP_Open), the status line of
// session/trace_hook.h.
#pragma once

#include <cstddef>
#include <cstdint>

#include "transport/address.h"
#include "varnek.h"

// Result codes of the TCP transport (the opens answer a socket, or one of these).
enum TcpApiResult : int16_t {
    TCPAPI_DONE = 0,
    TCPAPI_FAILED = -1,       // the socket is closed
    TCPAPI_ABORTED = -2,      // the host's abort callback stopped the wait
    TCPAPI_TIMEOUT = -3,
    TCPAPI_NOTHING = -4,      // TCPAPI_GetStatus: no input waiting
    TCPAPI_TOO_BIG = -5,
    TCPAPI_WOULD_BLOCK = -6,  // an accept found no caller waiting
};

// Option codes of TCPAPI_SetSockOpt (the index into the option table).  Codes 1 to 3
// are TCP-level entries that name no standard option.
constexpr int8_t TCPOPT_TCP_UNNAMED_1 = 1;
constexpr int8_t TCPOPT_TCP_UNNAMED_2 = 2;
constexpr int8_t TCPOPT_TCP_UNNAMED_3 = 3;
constexpr int8_t TCPOPT_NODELAY = 5;
constexpr int8_t TCPOPT_KEEPALIVE = 9;
constexpr int8_t TCPOPT_BROADCAST = 10;

// Whether the receive time-out has run out for a wait that began at `start` (seconds of
// Platform_Time): the elapsed whole seconds, taken unsigned, exceed the time-out's.
bool TCPAPI_Expired(int64_t start);

// An option the caller queues for the one socket its open creates.
struct TcpQueuedOption {
    int8_t code;
    int32_t value;
};

// TCPAPI_Open and TCPAPI_WaitForOpen with options queued for this open: they join the
// process-wide queue and the socket the call creates takes them, in one step, so that an
// open on another thread neither takes them nor leaves this one without them.  Called
// one at a time, the same as TCPAPI_SetSockOpt for each, then the open.
int32_t TCPAPI_OpenWith(const TcpQueuedOption *queued, size_t count, char *address, uint16_t port, uint8_t mode);
int32_t TCPAPI_WaitForOpenWith(const TcpQueuedOption *queued, size_t count, char *address, uint16_t port,
                               uint8_t mode);
