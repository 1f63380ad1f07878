// The hand-off of calls to the UI thread, and the thread object that uses it.
#include "platform/Thread.h"
#include "support/Pty.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <stdexcept>
#include <thread>

using namespace kestrin;

namespace {

struct LambdaThread : TThread {
    explicit LambdaThread(std::function<void(LambdaThread&)> run) : body(std::move(run)) {}
    ~LambdaThread() override
    {
        Terminate();
        WaitFor();
    }
    void Execute() override { body(*this); }
    using TThread::Synchronize;
    std::function<void(LambdaThread&)> body;
};

} // namespace

// A call handed over from another thread runs on the UI thread, which the registered
// waker wakes for it (a window's event loop sleeps until then); an exception it throws
// reaches the caller.
TEST(Synchronize, RunsOnTheUiThreadWhenWokenAndCarriesExceptionsBack)
{
    bool ranHere = false;
    Synchronize([&] { ranHere = IsUiThread(); }); // on the UI thread: at once
    EXPECT_TRUE(ranHere);
    EXPECT_FALSE(CheckSynchronize(0));

    std::mutex mutex;
    std::condition_variable woken;
    int wakes = 0;
    InitSynchronize([&] {
        std::lock_guard lock(mutex);
        ++wakes;
        woken.notify_all();
    });
    bool ranOnUi = false;
    std::atomic<bool> returned{false};
    std::thread worker([&] {
        Synchronize([&] { ranOnUi = IsUiThread(); });
        EXPECT_THROW(Synchronize([] { throw std::runtime_error("from the UI thread"); }), std::runtime_error);
        returned = true;
    });
    for (int handled = 0; handled < 2; ++handled) {
        std::unique_lock lock(mutex);
        if (!woken.wait_for(lock, std::chrono::seconds(20), [&] { return wakes > handled; }))
            break; // the failure shows below; the pump lets the worker end
        lock.unlock();
        EXPECT_TRUE(CheckSynchronize(20000));
    }
    EXPECT_TRUE(PumpUntil([&] { return returned.load(); }));
    worker.join();
    InitSynchronize();
    EXPECT_TRUE(ranOnUi);
    EXPECT_EQ(wakes, 2);
}

// WaitFor on the UI thread keeps running the thread's hand-overs (a plain wait would
// deadlock); an exception ends the thread only; a thread never resumed never runs.
TEST(Thread, WaitForRunsHandOversAndAFailingBodyEndsOnlyTheThread)
{
    {
        LambdaThread never([](LambdaThread&) { FAIL() << "never resumed, never run"; });
        never.WaitFor();
        EXPECT_FALSE(never.Finished());
    }
    std::atomic<int> handedOver{0};
    LambdaThread t([&](LambdaThread& self) {
        while (!self.Terminated())
            self.Synchronize([&] { ++handedOver; });
        throw std::runtime_error("body failed");
    });
    t.Resume();
    EXPECT_TRUE(PumpUntil([&] { return handedOver >= 3; }));
    t.Terminate();
    t.WaitFor();
    EXPECT_TRUE(t.Finished());
}
