// The serial bridge.  So far no serial port carries sessions: reset and push only check
// the port, and writes and reads fail as a link failure would.
#include "transport/linkapi.h"

namespace {
bool PortInRange(int16_t port) { return port >= 1 && port <= 500; }
}  // namespace

int16_t LINKAPI_Reset(int16_t port) { return PortInRange(port) ? LINKAPI_DONE : LINKAPI_FAILED; }

int16_t LINKAPI_Push(int16_t) { return LINKAPI_DONE; }

int16_t LINKAPI_Write(int16_t, const uint8_t *, uint16_t) { return LINKAPI_FAILED; }

int16_t LINKAPI_Read(int16_t, uint8_t *, uint16_t *) { return LINKAPI_FAILED; }

void LINKAPI_SetP2P(int16_t, uint16_t) {}

int16_t LINKAPI_Open(int16_t, uint16_t) { return LINKAPI_FAILED; }

int16_t LINKAPI_WaitForOpen(int16_t) { return LINKAPI_FAILED; }
