// Pseudo-terminals for tests of the serial path (Linux): one pair, and a cable that
// joins two pairs the way a null-modem cable joins two ports.  The station's demo uses
// the same cable.
#pragma once

#include <poll.h>
#include <unistd.h>

#include "shared/cable.h"
#include "support/tcp_peer.h"
