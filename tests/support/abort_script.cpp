#include "support/abort_script.h"

#include "support/fake_platform.h"
#include "varnek.h"

namespace {
int calls = 0;
int stopAt = 0;
bool once = false;
FakeClock *clock = nullptr;
int64_t secondsPerCall = 0;

int VKAPI Scripted()
{
    ++calls;
    if (clock != nullptr) clock->Advance(secondsPerCall);
    if (stopAt == 0) return 0;
    return (once ? calls == stopAt : calls >= stopAt) ? 1 : 0;
}
}  // namespace

AbortScript::AbortScript()
{
    calls = stopAt = 0;
    once = false;
    clock = nullptr;
    secondsPerCall = 0;
    ABORT_SetFunc(Scripted);
}

AbortScript::~AbortScript() { ABORT_SetFunc(nullptr); }

AbortScript &AbortScript::StopAt(int n)
{
    stopAt = n;
    return *this;
}

AbortScript &AbortScript::StopOnceAt(int n)
{
    stopAt = n;
    once = true;
    return *this;
}

AbortScript &AbortScript::Advance(FakeClock &c, int64_t seconds)
{
    clock = &c;
    secondsPerCall = seconds;
    return *this;
}

int AbortScript::Calls() const { return calls; }
