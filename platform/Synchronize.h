#pragma once
// The hand-off of calls from worker and reader threads to the UI thread.
// The UI thread runs queued calls in CheckSynchronize, which every wait on the UI
// thread for another thread calls in its loop, and wherever the waker registered by
// InitSynchronize gets it to (a window posts itself an event). No wait here ever
// runs the window system's event loop.
#include <functional>

namespace kestrin {

// Call once on the UI thread: records it. wake, when given, is called on the handing
// thread each time a call has been queued, so that a UI thread busy elsewhere comes to
// run CheckSynchronize. Without it, queued calls run only in CheckSynchronize and the
// waits below: a program without a window pumps the queue itself while it waits.
void InitSynchronize(std::function<void()> wake = nullptr);

bool IsUiThread();

// From another thread: queue fn for the UI thread, wake it, and block until fn has run
// there; an exception fn throws is rethrown here. On the UI thread: runs fn directly.
// Needs InitSynchronize first.
void Synchronize(std::function<void()> fn);

// On the UI thread: run every queued call, waiting up to timeoutMs for one to
// arrive when none is queued. Returns whether any call ran. Elsewhere returns false.
bool CheckSynchronize(int timeoutMs = 0);

// On the UI thread: run queued calls until done() holds, sleeping in between.
// Elsewhere: sleep until done() holds. Whoever makes done() true must call
// WakeSynchronizeWaiters afterwards so that the wait notices it.
void WaitRunningSynchronize(const std::function<bool()>& done);
void WakeSynchronizeWaiters();

} // namespace kestrin
