/* varnek_debug.h compiles as C, with C linkage: this file is built by the C compiler. */
#include "varnek_debug.h"

int DebugHeaderFromC(void)
{
    char text[8];
    return (int)VKD_FrameFlags(0x40, text, sizeof text);
}
