// The host's abort callback, asked once per pass by every wait of the library.
#include "transport/tcpapi.h"

namespace {
VK_ABORTFUNC abortFunc = nullptr;
}  // namespace

int16_t ABORT_Check()
{
    if (abortFunc == nullptr) return 0;
    return static_cast<int16_t>(abortFunc());
}

extern "C" VK_ABORTFUNC ABORT_SetFunc(VK_ABORTFUNC fn)
{
    abortFunc = fn;
    return fn;
}
