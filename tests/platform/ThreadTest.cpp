// The hand-off of calls to the UI thread, and the thread object that uses it.
#include "platform/Thread.h"
#include "support/Pty.h"

#include <QEventLoop>
#include <QTimer>
#include <gtest/gtest.h>

#include <atomic>
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

// A call handed over from another thread runs on the UI thread, whether the Qt event
// loop or CheckSynchronize picks it up; an exception it throws reaches the caller.
TEST(Synchronize, RunsOnTheUiThreadAndCarriesExceptionsBack)
{
    bool ranHere = false;
    Synchronize([&] { ranHere = IsUiThread(); }); // on the UI thread: at once
    EXPECT_TRUE(ranHere);
    EXPECT_FALSE(CheckSynchronize(0));

    QEventLoop loop;
    bool ranInLoop = false;
    std::atomic<bool> returned{false};
    std::thread worker([&] {
        Synchronize([&] {
            ranInLoop = IsUiThread() && loop.isRunning();
            loop.quit();
        });
        EXPECT_THROW(Synchronize([] { throw std::runtime_error("from the UI thread"); }), std::runtime_error);
        returned = true;
    });
    QTimer::singleShot(5000, &loop, &QEventLoop::quit);
    loop.exec();
    EXPECT_TRUE(PumpUntil([&] { return returned.load(); }));
    worker.join();
    EXPECT_TRUE(ranInLoop);
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
    EXPECT_THROW(std::rethrow_exception(t.FatalException()), std::runtime_error);
}
