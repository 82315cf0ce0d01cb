// Sessions wired straight to a connected socket, as an open leaves them, for tests of
// the frame exchange and compression without the open handshake.
#pragma once

#include <cstdint>

#include "session/session.h"

// Creates a session (lowest free slot) on socket with the given turn and compression
// version, its compressor and decompressor contexts included.  Returns its id.
short WireSession(int32_t socket, uint8_t turn, uint8_t zipVersion = 2);

// Releases every session still in the table, without pause.
void ReleaseAllSessions();
