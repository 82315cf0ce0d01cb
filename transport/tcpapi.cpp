// The TCP socket transport.  So far it keeps the receive time-out; sockets follow.
#include "transport/tcpapi.h"

namespace {
constexpr int32_t DEFAULT_RECEIVE_TIMEOUT_MS = 60000;
int32_t receiveTimeoutMs = DEFAULT_RECEIVE_TIMEOUT_MS;
}  // namespace

extern "C" {

void TCPAPI_Init(void) { receiveTimeoutMs = DEFAULT_RECEIVE_TIMEOUT_MS; }

void TCPAPI_Close(int32_t) {}

int32_t TCPAPI_GetTimeout(void) { return receiveTimeoutMs; }

void TCPAPI_SetTimeout(int32_t milliseconds) { receiveTimeoutMs = milliseconds; }

}  // extern "C"
