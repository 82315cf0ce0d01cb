// abort.h - the one test of the host's abort callback.
//
// The host installs its callback with ABORT_SetFunc (varnek.h).  Every wait of the TCP
// transport, the serial bridge and the session's frame exchange asks it once per pass,
// through ABORT_Check alone.
#pragma once

#include <cstdint>

// Asks the host's abort callback: nonzero means stop; 0 also when none is installed.
int16_t ABORT_Check();
