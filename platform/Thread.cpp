#include "Thread.h"

#include "Synchronize.h"

namespace kestrin {

TThread::~TThread()
{
    if (started_) {
        Terminate();
        WaitFor();
    }
}

void TThread::Resume()
{
    std::lock_guard lock(mutex_);
    if (started_)
        return;
    started_ = true;
    thread_ = std::thread(&TThread::Run, this);
}

void TThread::Run()
{
    try {
        Execute();
    } catch (...) {
        // It ends the thread, not the process; the worker reports its own errors.
    }
    bool freeSelf;
    {
        std::lock_guard lock(mutex_);
        freeSelf = freeOnTerminate_;
        if (freeSelf)
            thread_.detach();
    }
    finished_ = true;
    WakeSynchronizeWaiters();
    if (freeSelf)
        delete this;
}

void TThread::SetFreeOnTerminate(bool value)
{
    std::lock_guard lock(mutex_);
    freeOnTerminate_ = value;
}

void TThread::WaitFor()
{
    if (!started_)
        return;
    {
        std::lock_guard lock(mutex_);
        if (thread_.get_id() == std::this_thread::get_id())
            return; // a thread waiting for itself would never return
    }
    WaitRunningSynchronize([this] { return finished_.load(); });
    std::lock_guard lock(mutex_);
    if (thread_.joinable())
        thread_.join();
}

void TThread::Synchronize(std::function<void()> fn)
{
    kestrin::Synchronize(std::move(fn));
}

} // namespace kestrin
