#pragma once
// The hand-off of calls from worker and reader threads to the UI thread.
// The UI thread runs queued calls from an event posted to a dispatcher object and
// from CheckSynchronize, which every wait on the UI thread for another thread
// calls in its loop. No wait here ever calls QCoreApplication::processEvents.
#include <functional>

namespace kestrin {

// Call once on the UI thread after the QCoreApplication exists: records the UI
// thread and creates the dispatcher object that runs queued calls.
void InitSynchronize();

bool IsUiThread();

// From another thread: queue fn for the UI thread and block until it has run there
// (by the dispatcher's event or a CheckSynchronize); an exception fn throws is
// rethrown here. On the UI thread: runs fn directly. Needs InitSynchronize first.
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
