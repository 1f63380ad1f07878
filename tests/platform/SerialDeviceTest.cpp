// The device layer on a pseudo-terminal: events, stopping, and its own receive queue.
#include "platform/SerialDevice.h"
#include "support/Process.h"
#include "support/Pty.h"

#include <gtest/gtest.h>

#include <future>
#include <thread>

using namespace kestrin;
using Wait = SerialDevice::WaitResult;

TEST(SerialDevice, OneEventPerBatchAndAStopThatIsNeverLost)
{
    Pty pty;
    auto dev = SerialDevice::Open(pty.slavePath, nullptr);
    ASSERT_TRUE(dev && dev->SetState(SerialLineState{}));
    dev->SetEventMask(kSerialEvRxChar);
    ASSERT_TRUE(pty.Send("abc"));
    uint32_t events = 0;
    ASSERT_EQ(dev->WaitEvent(events), Wait::Event);
    EXPECT_EQ(events, kSerialEvRxChar);
    EXPECT_EQ(dev->ClearError(), 3u);

    // The bytes sit unread: the next wait must block, not report them again nor spin.
    const double cpuBefore = ProcessCpuSeconds();
    auto waiting = std::async(std::launch::async, [&] { return dev->WaitEvent(events); });
    EXPECT_EQ(waiting.wait_for(std::chrono::milliseconds(300)), std::future_status::timeout);
    EXPECT_LT(ProcessCpuSeconds() - cpuBefore, 0.1);
    dev->Stop();
    EXPECT_EQ(waiting.get(), Wait::Stopped);
    EXPECT_EQ(dev->WaitEvent(events), Wait::Stopped); // also for a wait that starts later
    char buf[8] = {};
    EXPECT_EQ(dev->Read(buf, 8), 3);
    EXPECT_EQ(std::string(buf, 3), "abc");
}

TEST(SerialDevice, AFullQueueWaitsForSpaceAndLosesNothing)
{
    Pty pty;
    auto dev = SerialDevice::Open(pty.slavePath, nullptr);
    ASSERT_TRUE(dev && dev->SetState(SerialLineState{}));
    dev->SetEventMask(kSerialEvRxChar);
    dev->SetQueueSizes(100, 0);
    const std::string sent = Pattern(300);
    ASSERT_TRUE(pty.Send(sent));
    std::thread reader([&] {
        for (uint32_t ev; dev->WaitEvent(ev) == Wait::Event;) {
        }
    });
    std::string got;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (got.size() < sent.size() && std::chrono::steady_clock::now() < deadline) {
        EXPECT_LE(dev->ClearError(), 100u);
        char buf[40];
        got.append(buf, size_t(dev->Read(buf, sizeof buf)));
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    dev->Stop();
    reader.join();
    EXPECT_EQ(got, sent);
}
