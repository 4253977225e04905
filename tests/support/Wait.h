// The tests' two waits for a condition: one that services this thread's window queue and
// one that only polls.
#pragma once

#include <windows.h>

#include <functional>

namespace testsupport {

// Services this thread's queue (through the application object when there is one, so that
// forms see their keys) until Pred holds or TimeoutMs pass. Pred is looked at every few
// milliseconds as well, since it may depend on threads that post nothing. True when Pred
// held.
bool PumpUntil(const std::function<bool()>& Pred, DWORD TimeoutMs = 10000);

// Services the queue for Ms milliseconds (to let posted work run, never to prove absence).
inline void PumpFor(DWORD Ms) {
    PumpUntil([] { return false; }, Ms);
}

// Polls Pred without taking anything from this thread's queue, for threads that own no
// window. Messages that other threads send to it are answered meanwhile (they wait for
// it), posted ones stay queued.
bool WaitUntil(const std::function<bool()>& Pred, DWORD TimeoutMs = 10000);

}  // namespace testsupport
