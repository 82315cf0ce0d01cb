// The host's abort callback, asked once per pass by every wait of the library.
#include "transport/abort.h"

#include <atomic>

#include "varnek.h"

namespace {
std::atomic<VK_ABORTFUNC> abortFunc{nullptr};  // installed by one thread, asked by every wait
}  // namespace

int16_t ABORT_Check()
{
    VK_ABORTFUNC fn = abortFunc.load(std::memory_order_acquire);
    if (fn == nullptr) return 0;
    return static_cast<int16_t>(fn());
}

extern "C" VK_ABORTFUNC ABORT_SetFunc(VK_ABORTFUNC fn)
{
    abortFunc.store(fn, std::memory_order_release);
    return fn;
}
