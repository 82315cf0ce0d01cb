// The serial bridge.  So far a port has no pending block: reset and push only check
// the port.
#include "transport/linkapi.h"

namespace {
bool PortInRange(int16_t port) { return port >= 1 && port <= 500; }
}  // namespace

int16_t LINKAPI_Reset(int16_t port) { return PortInRange(port) ? LINKAPI_DONE : LINKAPI_FAILED; }

int16_t LINKAPI_Push(int16_t) { return LINKAPI_DONE; }
