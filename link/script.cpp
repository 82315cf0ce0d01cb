// Recording and replaying received frames.  So far no port is in either mode.
#include "link/link.h"

short SCRIPT_Write(short, const uint8_t *, uint16_t) { return 0; }

short SCRIPT_Read(short, uint8_t *, uint16_t *length)
{
    *length = 0;
    return 0;
}

bool SCRIPT_Recording(short) { return false; }

extern "C" short LINK_IsScriptRead(short) { return 0; }
