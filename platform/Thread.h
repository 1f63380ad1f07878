#pragma once
// A thread object in the manner the program's threads are written: created
// suspended, started by Resume, asked to end by Terminate (the body polls
// Terminated), waited for by WaitFor. A derived class overrides Execute and must
// make sure the thread has ended (Terminate, WaitFor) before its own members go.
#include <atomic>
#include <functional>
#include <mutex>
#include <thread>

namespace kestrin {

class TThread {
public:
    TThread() = default;
    TThread(const TThread&) = delete;
    TThread& operator=(const TThread&) = delete;
    // Ends a thread still running (Terminate, WaitFor); a thread never resumed is just freed.
    virtual ~TThread();

    // Starts the thread; later calls do nothing.
    void Resume();
    void Terminate() { terminated_ = true; }
    bool Terminated() const { return terminated_; }
    // Blocks until Execute has returned; at once when the thread was never resumed.
    // On the UI thread the wait keeps running the calls handed over by Synchronize.
    void WaitFor();
    // Execute has returned, or an exception escaped it, which ends the thread, not the process.
    bool Finished() const { return finished_; }
    // The thread deletes its own object once Execute has returned. Set it before
    // Resume, or while the thread is sure to be still running; nobody may wait for
    // or delete the object afterwards.
    void SetFreeOnTerminate(bool value);

protected:
    virtual void Execute() = 0;
    // Runs fn on the UI thread and waits until it has run there.
    void Synchronize(std::function<void()> fn);

private:
    void Run();

    std::thread thread_;
    mutable std::mutex mutex_; // guards thread_'s start, join and detach, and freeOnTerminate_
    std::atomic<bool> started_{false};
    std::atomic<bool> terminated_{false};
    std::atomic<bool> finished_{false};
    bool freeOnTerminate_ = false;
};

} // namespace kestrin
