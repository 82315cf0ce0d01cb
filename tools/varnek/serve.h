// serve.h - a listener's loop: one session after another, or one thread per session.
#pragma once

#include <functional>

// Handles one session on a slot: Session_Create(&slot) (slot -1: the library chooses and
// the slot is written back), the passive open, the conversation.  Returns the session's
// exit code (EXIT_OK, EXIT_OPEN when it did not open, EXIT_SESSION, EXIT_FILE).
using ServeOneFn = std::function<int(short &slot)>;
// True once the listener is to stop: no worker starts another session then.
using StoppingFn = bool (*)();

// Serves sessions until `count` of them (opened or not) have been handled, forever when
// count < 0, with `workers` threads at once (1: on the calling thread, one at a time).
// A failed open or session never ends the loop; after failed opens in a row a worker
// waits a little longer each time (10 ms up to 1 s), so a port that cannot be listened
// on is retried, not spun on.  The result is the exit code of the last failure, or
// EXIT_OK.
int ServeSessions(int workers, long count, StoppingFn stopping, const ServeOneFn &serveOne);
