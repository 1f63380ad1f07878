// The sweep worker without the window, as both builds run it: the request lines it writes
// and the replies it hands over, against an analyser played by the test and against the
// simulated analyser (in-process; under Wine also the Linux tool kestrin-vna-sim on the COM
// port named in KESTRIN_SIM_COM).
#include "acquisition/SweepRequest.h"
#include "acquisition/TComThread.h"
#include "platform/PortTable.h"
#include "platform/SerialDevice.h"
#include "sim/Simulator.h"
#include "support/Pty.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <future>
#include <mutex>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;
using kestrin::sim::SimConfig;

constexpr int TestPortNumber = 7002;
// 0.1 to 180 MHz in 500 steps with the 400 MHz clock, as the window asks by default.
const std::string DefaultRequest = "0\r1073742\r500\r3863323\r";

Bytes AntennaReply(int32_t startKHz, int32_t endKHz, int32_t steps)
{
    const SweepWords w = EncodeSweep(startKHz, endKHz, steps, TuningFactorForClock(400000000));
    return kestrin::sim::BuildReply(SimConfig{}, kestrin::sim::SweepRequest{w.Start, steps, w.Step});
}

// What the worker needs of a window: the default settings, and the sweeps it hands over.
class Window final : public TSweepWindow {
public:
    explicit Window(TComThread& worker) : worker_(worker) {}
    void CopySweepSettings() override
    {
        std::lock_guard lock(mutex_);
        worker_.Settings.StartKHz = 100;
        worker_.Settings.EndKHz = 180000;
        worker_.Settings.Steps = 500;
        worker_.Settings.TuningFactor = TuningFactorForClock(400000000);
    }
    void HandOverSweep(const uint8_t* samples) override
    {
        std::lock_guard lock(mutex_);
        sweeps_.emplace_back(samples, samples + worker_.Settings.Steps * 4);
    }
    void WorkerEnded() override { ended_ = true; }

    std::vector<Bytes> Sweeps()
    {
        std::lock_guard lock(mutex_);
        return sweeps_;
    }
    std::atomic<bool> ended_{false};

private:
    TComThread& worker_;
    std::mutex mutex_;
    std::vector<Bytes> sweeps_;
};

// A worker on the test port; it ends (and its port closes) with the object.
struct Worker {
    explicit Worker(const std::string& path)
    {
        kestrin::SetPortPath(TestPortNumber, path);
        thread.Form = &window;
        thread.PortNumber = TestPortNumber;
        thread.Resume();
    }
    ~Worker()
    {
        thread.Terminate();
        thread.WaitFor(); // runs the port's notifications meanwhile
        kestrin::RemovePort(TestPortNumber);
    }
    bool SweepsReach(size_t count, int timeoutMs = 10000)
    {
        return PumpUntil([&] { return window.Sweeps().size() >= count || window.ended_; }, timeoutMs)
               && window.Sweeps().size() >= count;
    }
    TComThread thread;
    Window window{thread};
};

// The bytes of one request, read on another thread while this one runs the notifications.
std::string RequestFrom(Pty& analyser)
{
    auto request = std::async(std::launch::async, [&] {
        std::string got;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (std::count(got.begin(), got.end(), '\r') < 4 && !analyser.hungUp
               && std::chrono::steady_clock::now() < deadline)
            got += analyser.Receive(100, 50);
        return got;
    });
    PumpUntil([&] { return request.wait_for(std::chrono::seconds(0)) == std::future_status::ready; }, 30000);
    return request.get();
}

} // namespace

TEST(SweepWorker, WritesTheRequestLinesAndHandsOverTheWholeReply)
{
    Pty analyser;
    Worker worker(analyser.slavePath);
    ASSERT_EQ(RequestFrom(analyser), DefaultRequest) << "end cause " << int(worker.thread.EndCause()) << ": "
                                                     << worker.thread.EndMessage()
                                                     << (analyser.hungUp ? "; the line hung up" : "");
    const Bytes reply = AntennaReply(100, 180000, 500);
    // Half a reply is not a sweep.
    ASSERT_TRUE(analyser.Send(std::string(reply.begin(), reply.begin() + 1000)));
    EXPECT_FALSE(worker.SweepsReach(1, 300));
    ASSERT_TRUE(analyser.Send(std::string(reply.begin() + 1000, reply.end())));
    ASSERT_TRUE(worker.SweepsReach(1));
    EXPECT_TRUE(worker.window.Sweeps().front() == reply);
    // The next request follows the sweep handed over.
    EXPECT_EQ(RequestFrom(analyser), DefaultRequest);
    EXPECT_FALSE(worker.thread.EndedOnItsOwn());
}

TEST(SweepWorker, SweepsFromTheSimulatedAnalyser)
{
    // In this process, as the "Simulator" item opens it: on a pseudo-terminal on Linux, on
    // an in-process line on Windows.
    kestrin::sim::Simulator sim(SimConfig{.Load = {}, .ClockHz = 400000000, .Pace = kestrin::sim::Pacing::Fast});
    std::string error;
    ASSERT_TRUE(sim.Start(error)) << error;
    std::vector<std::string> paths{sim.SlavePath()};
#ifdef _WIN32
    // And the Linux tool on a COM port, as a real analyser is reached.
    const char* com = std::getenv("KESTRIN_SIM_COM");
    ASSERT_TRUE(com) << "KESTRIN_SIM_COM names the COM port of kestrin-vna-sim (scripts/test-windows.sh)";
    paths.push_back(kestrin::SerialDevice::PathForNumber(std::atoi(com)));
#endif
    const Bytes expected = AntennaReply(100, 180000, 500);
    for (const std::string& path : paths) {
        SCOPED_TRACE(path);
        Worker worker(path);
        ASSERT_TRUE(worker.SweepsReach(3)) << "end cause " << int(worker.thread.EndCause()) << ": "
                                           << worker.thread.EndMessage();
        for (const Bytes& sweep : worker.window.Sweeps())
            EXPECT_TRUE(sweep == expected);
    }
}

TEST(SweepWorker, AnAnalyserThatVanishesMidReplyEndsTheSweepsAsALostPort)
{
    // The simulated analyser goes after 1000 bytes of its first reply: a pulled cable on
    // Linux (its pseudo-terminal hangs up), its in-process line closed on Windows.
    kestrin::sim::Simulator sim(SimConfig{.Load = {}, .ClockHz = 400000000, .Pace = kestrin::sim::Pacing::Fast,
                                          .Mode = kestrin::sim::Fault::Vanish, .FaultBytes = 1000});
    std::string error;
    ASSERT_TRUE(sim.Start(error)) << error;
    Worker worker(sim.SlavePath());
    PumpUntil([&] { return worker.window.ended_.load(); }, 20000);
    ASSERT_TRUE(worker.window.ended_);
    EXPECT_EQ(worker.thread.EndCause(), TComThreadEnd::PortLost) << worker.thread.EndMessage();
    EXPECT_TRUE(worker.window.Sweeps().empty());
}

#ifndef _WIN32
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

TEST(SweepWorker, ARequestLineThePortCannotWriteEndsTheSweepsAsALostPort)
{
    // The terminal's output is suspended (as by a received XOFF), and the worker turns no
    // flow control on that would resume it: the device takes no byte and its Write gives
    // up with 0, while nothing hangs up. No reply can come to a request never sent.
    Pty analyser;
    const int held = ::open(analyser.slavePath.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(held, 0);
    ASSERT_EQ(tcflow(held, TCOOFF), 0);
    {
        Worker worker(analyser.slavePath);
        PumpUntil([&] { return worker.window.ended_.load(); }, 20000);
        ASSERT_TRUE(worker.window.ended_);
        EXPECT_EQ(worker.thread.EndCause(), TComThreadEnd::PortLost) << worker.thread.EndMessage();
        EXPECT_TRUE(analyser.Receive(0, 0).empty());
    }
    ::close(held);
}
#endif
