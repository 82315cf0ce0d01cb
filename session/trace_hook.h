// trace_hook.h - the session layer's trace path, as the layers below call it.
//
// The one seam through which transport/ and zip/ reach the session layer for text: the
// socket service's start-up failures become status lines on the host's display, the
// centre log-in's progress and the compression layer's diagnostics go to the debug
// hook, which shows nothing to the host.  Both functions are exported (varnek.h); they
// are declared again here so that this header states all that the layers below may
// call of the session layer besides frame_io.h.
#pragma once

#include "varnek.h"

extern "C" {
// A status line for session id (-1: none) on the host's display function.
VK_EXPORT void VKAPI Session_OutputMsg(short id, const char *text);
// A debug line for session id (or a link port); shown to no host.
VK_EXPORT void VKAPI Session_DebugMsg(short id, const char *text);
}
