#include "Synchronize.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>
#include <thread>

namespace kestrin {
namespace {

struct QueuedCall {
    std::function<void()> fn;
    std::exception_ptr error;
    bool done = false;
};

// Never destroyed: a self-freeing thread may still wake waiters while the process
// exits, after static destruction has begun.
std::mutex& syncMutex = *new std::mutex;
std::condition_variable& syncChanged = *new std::condition_variable; // a call was queued or finished, or a waiter was woken
std::deque<std::shared_ptr<QueuedCall>>& queue = *new std::deque<std::shared_ptr<QueuedCall>>;
std::atomic<bool> uiKnown{false};
std::thread::id uiThread;
std::function<void()>& wakeUi = *new std::function<void()>; // guarded by syncMutex

// Runs the calls queued so far; syncMutex held on entry and on return.
bool RunQueued(std::unique_lock<std::mutex>& lock)
{
    bool ran = false;
    while (!queue.empty()) {
        auto call = queue.front();
        queue.pop_front();
        lock.unlock();
        try {
            call->fn();
        } catch (...) {
            call->error = std::current_exception();
        }
        lock.lock();
        call->done = true;
        ran = true;
        syncChanged.notify_all();
    }
    return ran;
}

} // namespace

void InitSynchronize(std::function<void()> wake)
{
    std::lock_guard lock(syncMutex);
    uiThread = std::this_thread::get_id();
    uiKnown = true;
    wakeUi = std::move(wake);
}

bool IsUiThread()
{
    if (!uiKnown)
        return false;
    std::lock_guard lock(syncMutex);
    return uiThread == std::this_thread::get_id();
}

void Synchronize(std::function<void()> fn)
{
    if (IsUiThread()) {
        fn();
        return;
    }
    auto call = std::make_shared<QueuedCall>();
    call->fn = std::move(fn);
    std::unique_lock lock(syncMutex);
    queue.push_back(call);
    syncChanged.notify_all();
    if (wakeUi) {
        const std::function<void()> wake = wakeUi;
        lock.unlock();
        wake();
        lock.lock();
    }
    syncChanged.wait(lock, [&] { return call->done; });
    if (call->error)
        std::rethrow_exception(call->error);
}

bool CheckSynchronize(int timeoutMs)
{
    if (!IsUiThread())
        return false;
    std::unique_lock lock(syncMutex);
    if (queue.empty() && timeoutMs > 0)
        syncChanged.wait_for(lock, std::chrono::milliseconds(timeoutMs), [] { return !queue.empty(); });
    return RunQueued(lock);
}

void WaitRunningSynchronize(const std::function<bool()>& done)
{
    const bool ui = IsUiThread();
    std::unique_lock lock(syncMutex);
    for (;;) {
        if (ui)
            RunQueued(lock);
        if (done())
            return;
        syncChanged.wait(lock, [&] { return done() || (ui && !queue.empty()); });
    }
}

void WakeSynchronizeWaiters()
{
    std::lock_guard lock(syncMutex);
    syncChanged.notify_all();
}

} // namespace kestrin
