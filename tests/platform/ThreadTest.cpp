#include "PtyHelpers.h"
#include "platform/Synchronize.h"
#include "platform/Thread.h"

#include <QEventLoop>
#include <QTimer>
#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <thread>

using namespace kestrin;
using testing_pty::PumpUntil;

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

TEST(Synchronize, RunsOnTheUiThreadAndCarriesExceptionsBack)
{
    ASSERT_TRUE(IsUiThread());
    // On the UI thread the call runs at once.
    bool ranHere = false;
    Synchronize([&] { ranHere = true; });
    EXPECT_TRUE(ranHere);

    std::thread::id ranOn;
    std::atomic<bool> returned{false};
    std::string caught;
    std::thread worker([&] {
        EXPECT_FALSE(IsUiThread());
        Synchronize([&] { ranOn = std::this_thread::get_id(); });
        try {
            Synchronize([] { throw std::runtime_error("from the UI thread"); });
        } catch (const std::runtime_error& e) {
            caught = e.what();
        }
        returned = true;
    });
    EXPECT_TRUE(PumpUntil([&] { return returned.load(); }));
    worker.join();
    EXPECT_EQ(ranOn, std::this_thread::get_id());
    EXPECT_EQ(caught, "from the UI thread");
}

TEST(Synchronize, TheEventLoopRunsHandedOverCalls)
{
    QEventLoop loop;
    std::atomic<bool> ranOnUi{false};
    std::thread worker([&] {
        Synchronize([&] {
            ranOnUi = IsUiThread();
            loop.quit();
        });
    });
    QTimer::singleShot(5000, &loop, &QEventLoop::quit);
    loop.exec();
    worker.join();
    EXPECT_TRUE(ranOnUi);
}

TEST(Synchronize, CheckSynchronizeWaitsOnlyAsLongAsAsked)
{
    EXPECT_FALSE(CheckSynchronize(0));
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(CheckSynchronize(50));
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(45));

    // A call arriving during the wait ends it early and runs.
    std::thread worker([] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        Synchronize([] {});
    });
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_TRUE(CheckSynchronize(5000));
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(2));
    worker.join();
}

TEST(Thread, LifecycleWithoutResumeOrWithAFailingBody)
{
    {
        LambdaThread never([](LambdaThread&) { FAIL() << "never resumed, never run"; });
        never.WaitFor(); // returns at once
        EXPECT_FALSE(never.Finished());
    }
    LambdaThread failing([](LambdaThread&) { throw std::runtime_error("body failed"); });
    failing.Resume();
    failing.WaitFor();
    EXPECT_TRUE(failing.Finished());
    ASSERT_TRUE(failing.FatalException());
    EXPECT_THROW(std::rethrow_exception(failing.FatalException()), std::runtime_error);
}

TEST(Thread, WaitForOnTheUiThreadRunsTheThreadsHandOvers)
{
    std::atomic<int> handedOver{0};
    LambdaThread t([&](LambdaThread& self) {
        while (!self.Terminated())
            self.Synchronize([&] { ++handedOver; });
    });
    t.Resume();
    EXPECT_TRUE(PumpUntil([&] { return handedOver >= 3; }));
    // The thread is blocked in Synchronize most of the time; a plain wait would deadlock.
    t.Terminate();
    t.WaitFor();
    EXPECT_TRUE(t.Finished());
    EXPECT_FALSE(t.FatalException());
}
