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

class LambdaThread : public TThread {
public:
    explicit LambdaThread(std::function<void(LambdaThread&)> body) : body_(std::move(body)) {}
    ~LambdaThread() override
    {
        Terminate();
        WaitFor();
    }
    using TThread::Synchronize;

protected:
    void Execute() override { body_(*this); }

private:
    std::function<void(LambdaThread&)> body_;
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
    std::string caught;
    std::atomic<bool> returned{false};
    std::thread worker([&] {
        Synchronize([&] {
            ranInLoop = IsUiThread() && loop.isRunning();
            loop.quit();
        });
        try {
            Synchronize([] { throw std::runtime_error("from the UI thread"); });
        } catch (const std::runtime_error& e) {
            caught = e.what();
        }
        returned = true;
    });
    QTimer::singleShot(5000, &loop, &QEventLoop::quit);
    loop.exec();
    EXPECT_TRUE(PumpUntil([&] { return returned.load(); }));
    worker.join();
    EXPECT_TRUE(ranInLoop);
    EXPECT_EQ(caught, "from the UI thread");
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
