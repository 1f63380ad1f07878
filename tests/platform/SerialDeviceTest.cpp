#include "PtyHelpers.h"
#include "platform/SerialDevice.h"

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <thread>

using namespace kestrin;
using testing_pty::Pty;

TEST(SerialDevice, OneEventPerBatchAndAStopThatIsNeverLost)
{
    Pty pty;
    int error = 0;
    auto dev = SerialDevice::Open(pty.slavePath, &error);
    ASSERT_TRUE(dev);
    ASSERT_TRUE(dev->SetState(SerialLineState{}));
    dev->SetEventMask(kSerialEvRxChar);

    ASSERT_TRUE(pty.Send("abc"));
    uint32_t events = 0;
    ASSERT_EQ(dev->WaitEvent(events), SerialDevice::WaitResult::Event);
    EXPECT_EQ(events, kSerialEvRxChar);
    EXPECT_EQ(dev->ClearError(), 3u);

    // The bytes sit unread: the next wait must block, not report them again nor spin.
    const double cpuBefore = testing_pty::ProcessCpuSeconds();
    auto waiting = std::async(std::launch::async, [&] {
        uint32_t ev = 0;
        return dev->WaitEvent(ev);
    });
    EXPECT_EQ(waiting.wait_for(std::chrono::milliseconds(300)), std::future_status::timeout);
    EXPECT_LT(testing_pty::ProcessCpuSeconds() - cpuBefore, 0.1);
    dev->Stop();
    EXPECT_EQ(waiting.get(), SerialDevice::WaitResult::Stopped);
    // Stopped stays stopped, even for a wait that starts later.
    EXPECT_EQ(dev->WaitEvent(events), SerialDevice::WaitResult::Stopped);

    char buf[8] = {};
    EXPECT_EQ(dev->Read(buf, 8), 3);
    EXPECT_EQ(std::string(buf, 3), "abc");
}

TEST(SerialDevice, AFullQueueWaitsForSpaceAndLosesNothing)
{
    Pty pty;
    int error = 0;
    auto dev = SerialDevice::Open(pty.slavePath, &error);
    ASSERT_TRUE(dev);
    ASSERT_TRUE(dev->SetState(SerialLineState{}));
    dev->SetEventMask(kSerialEvRxChar);
    dev->SetQueueSizes(100, 0);

    std::string sent;
    for (int i = 0; i < 300; ++i)
        sent.push_back(char('A' + i % 26));
    ASSERT_TRUE(pty.Send(sent));

    std::string got;
    std::thread reader([&] {
        uint32_t ev;
        while (dev->WaitEvent(ev) == SerialDevice::WaitResult::Event) {
        }
    });
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (got.size() < sent.size() && std::chrono::steady_clock::now() < deadline) {
        EXPECT_LE(dev->ClearError(), 100u);
        char buf[40];
        const int32_t n = dev->Read(buf, sizeof buf);
        got.append(buf, size_t(n));
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    dev->Stop();
    reader.join();
    EXPECT_EQ(got, sent);
}
