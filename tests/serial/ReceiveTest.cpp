// The reader thread: counting, reading, line mode, device loss and closing.
#include "PortFixture.h"
#include "platform/SerialDevice.h"

#include "support/Process.h"

#include <atomic>
#include <thread>
#include <vector>

TEST_F(PortTest, PlainModeCountsReadsPurgesAndDropsWithoutAHandler)
{
    port.SetOnDataAvailable([&](TVornComPort* sender) { EXPECT_TRUE(sender == &port && kestrin::IsUiThread()); });
    port.SetRxBuffer(16384);
    port.SetActive(true);
    ASSERT_TRUE(pty.Send(Pattern(2000)));
    EXPECT_TRUE(PumpUntil([&] { return port.InQueue() == 2000; }));
    std::string buf(16000, '\0');
    EXPECT_EQ(port.Read(buf.data(), 0) + port.Read(buf.data(), -5), 0);
    EXPECT_EQ(port.Read(buf.data(), 3000), 2000);
    EXPECT_EQ(port.InQueue(), 0u);

    // A whole reply, more than the tty layer alone holds.
    std::thread other([&] { EXPECT_TRUE(pty.Send(Pattern(16000))); }); // blocks while the tty is full
    EXPECT_TRUE(PumpUntil([&] { return port.InQueue() == 16000; })) << "InQueue " << port.InQueue();
    other.join();
    EXPECT_EQ(port.Read(buf.data(), 16000), 16000);
    EXPECT_EQ(buf, Pattern(16000));

    ASSERT_TRUE(pty.Send("stale"));
    EXPECT_TRUE(PumpUntil([&] { return port.InQueue() == 5; }));
    port.PurgeRx();
    EXPECT_EQ(port.InQueue(), 0u);
    EXPECT_EQ(port.Read(buf.data(), 16), 0);

    // No handler: the bytes are read and dropped for good.
    port.SetOnDataAvailable(nullptr);
    ASSERT_TRUE(pty.Send(Pattern(2000)));
    const auto left = [&] { return port.CommThread()->Device()->ClearError() + port.InQueue(); };
    auto noneSince = std::chrono::steady_clock::now();
    PumpUntil([&] { // none left for 200 ms in a row: not merely still on the way
        const auto now = std::chrono::steady_clock::now();
        if (left() != 0)
            noneSince = now;
        return now - noneSince >= std::chrono::milliseconds(200);
    }, 20000);
    EXPECT_EQ(left(), 0u);
}

TEST_F(PortTest, LineModeHandsOverOneLineAtATime)
{
    std::vector<std::string> lines;
    bool readNow = true;
    port.SetLineMode(true);
    port.SetOnDataAvailable([&](TVornComPort* sender) {
        std::string line(readNow ? sender->InQueue() : 0, '\0');
        EXPECT_EQ(sender->Read(line.data(), int32_t(line.size())), int32_t(line.size()));
        if (readNow)
            lines.push_back(line);
    });
    port.SetActive(true);
    const TVornCommBuffer& buffer = *port.CommThread()->LineBuffer();
    // The part of a line arrives as an event of its own: stored, not handed over.
    const struct { std::string lineEnd, part, rest; std::vector<std::string> lines; } cases[] = {
        {"\n", "", "a\nb\n", {"a\n", "b\n"}},
        {"", "", "123", {"1", "2", "3"}}, // an empty line end still advances
        {"\r\n", "ab", "cd\r\n", {"abcd\r\n"}},
        {"\r\n", "xyz\r", "\n", {"xyz\r\n"}}, // a split line end
        {"\r\n", "", "l1\r\nline2\r\n\r\n", {"l1\r\n", "line2\r\n", "\r\n"}},
    };
    for (const auto& c : cases) {
        port.SetLineEnd(c.lineEnd);
        lines.clear();
        ASSERT_TRUE(pty.Send(c.part));
        EXPECT_TRUE(PumpUntil([&] { return buffer.WritePos == int32_t(c.part.size()); }));
        ASSERT_TRUE(pty.Send(c.rest));
        EXPECT_TRUE(PumpUntil([&] { return lines.size() >= c.lines.size(); }));
        EXPECT_EQ(lines, c.lines);
        EXPECT_EQ(std::tuple(buffer.ReadPos, buffer.WritePos, buffer.ScanPos), std::tuple(0, 0, 0));
    }

    // Lines left unread stay counted and are offered again with the next line end.
    lines.clear();
    readNow = false;
    ASSERT_TRUE(pty.Send("one\r\n"));
    EXPECT_TRUE(PumpUntil([&] { return port.InQueue() == 5; }));
    ASSERT_TRUE(pty.Send("two\r\nrest"));
    EXPECT_TRUE(PumpUntil([&] { return port.InQueue() == 10; }));
    // Switching line mode off hands the complete lines over once; plain reads get the rest.
    readNow = true;
    port.SetLineMode(false);
    EXPECT_EQ(lines, std::vector<std::string>{"one\r\ntwo\r\n"});
    char buf[8];
    EXPECT_EQ(port.Read(buf, 8), 4);
    EXPECT_EQ(std::string(buf, 4), "rest");

    // Bytes received in plain mode are scanned for lines once line mode is back on.
    readNow = false;
    ASSERT_TRUE(pty.Send("three\r\n"));
    EXPECT_TRUE(PumpUntil([&] { return port.InQueue() == 7; }));
    readNow = true;
    port.SetLineMode(true);
    EXPECT_TRUE(PumpUntil([&] { return lines.size() == 2 && lines.back() == "three\r\n"; }));
}

// The sweep worker's way: open, write, poll and read on its own thread while the UI thread
// runs the notifications. The count never promises more than the queue holds.
TEST_F(PortTest, AWorkerThreadReadsEveryByteOnceWhileNotificationsRun)
{
    const std::string data = Pattern(30000);
    std::string got;
    std::atomic<bool> done{false};
    std::atomic<int> sent{0};
    bool lost = false; // the reader took the device for lost before the worker closed it
    std::thread worker([&] {
        port.SetRxBuffer(16384);
        port.SetOnDataAvailable([](TVornComPort*) {});
        port.SetOnDataSent([&](TVornComPort*) { ++sent; });
        port.SetActive(true);
        port.WriteString("go\r\n");
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (got.size() < data.size() && std::chrono::steady_clock::now() < deadline) {
            std::string piece(std::min<uint32_t>(port.InQueue(), 1500), '\0');
            EXPECT_EQ(port.Read(piece.data(), int32_t(piece.size())), int32_t(piece.size()));
            got += piece;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        lost = port.Lost();
        port.SetActive(false);
        done = true;
    });
    EXPECT_EQ(pty.ReceiveAtLeast(4), "go\r\n");
    std::thread other([&] { EXPECT_TRUE(pty.Send(data)); });
    EXPECT_TRUE(PumpUntil([&] { return done.load(); }, 40000));
    other.join();
    worker.join();
    EXPECT_TRUE(got == data) << got.size() << " of " << data.size() << " bytes"
                             << (lost ? "; the reader took the device for lost" : "");
    EXPECT_GT(sent, 0);
}

TEST_F(PortTest, DeviceLossEndsTheReaderWithoutBurningCpu)
{
    port.SetOnDataAvailable([](TVornComPort*) {});
    port.SetActive(true);
    ASSERT_TRUE(pty.Send("x"));
    EXPECT_TRUE(PumpUntil([&] { return port.InQueue() == 1; }));

    pty.Close();
    EXPECT_TRUE(PumpUntil([&] { return port.CommThread()->Finished(); }, 5000)) << "the reader ends promptly";
    EXPECT_TRUE(port.Lost());
    const double cpuBefore = ProcessCpuSeconds();
    std::this_thread::sleep_for(std::chrono::seconds(1));
    EXPECT_LT(ProcessCpuSeconds() - cpuBefore, 0.02);

    EXPECT_EQ(port.WriteString("gone"), 0);
    char c = 0;
    EXPECT_EQ(port.Read(&c, 1), 1); // what arrived before the loss is still there
    port.SetActive(false);
    EXPECT_FALSE(port.Lost() || port.Active());
}

// Closing from anywhere, even from the port's own handler, neither deadlocks nor leaves a
// descriptor or thread behind.
TEST_F(PortTest, ClosingNeverHangsAndLeavesNothingBehind)
{
    int calls = 0;
    port.SetOnDataAvailable([&](TVornComPort*) { ++calls; });
    port.SetActive(true);
    ASSERT_TRUE(pty.Send("pending"));
    // Without pumping, the reader takes the bytes and then blocks handing the event over.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (port.CommThread()->Device()->ClearError() == 0 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(calls, 0);
    port.SetActive(false); // runs the pending notification instead of deadlocking
    EXPECT_EQ(calls, 1);

    // A thread that has just ended (or one that Wine ran for a wait of its own, with its
    // handles) is still counted for a moment: the counts are waited for, and a leak never
    // gets back to them. What the system frees later than the baseline counts as freed.
    const ProcessResources before = SettledProcessResources();
    const auto noneLeft = [&] {
        const ProcessResources now = CurrentProcessResources();
        return now.handles <= before.handles && now.threads <= before.threads;
    };
    const auto counts = [&] {
        const ProcessResources now = CurrentProcessResources();
        return std::to_string(now.handles) + " handles and " + std::to_string(now.threads) + " threads, "
               + std::to_string(before.handles) + " and " + std::to_string(before.threads) + " before";
    };
    for (int i = 0; i < 1000; ++i) {
        port.SetActive(true); // Close right after Open: the stop request must not get lost
        port.SetActive(false);
    }
    EXPECT_TRUE(PumpUntil(noneLeft)) << counts();

    // A handler that frees its own port (and so closes it) from within the notification.
    auto* owned = new TVornComPort;
    owned->SetPort(kNumber);
    owned->SetLineMode(true);
    owned->SetOnDataAvailable([&](TVornComPort* sender) {
        char line[16];
        EXPECT_EQ(sender->Read(line, sizeof line), 6);
        delete sender;
    });
    owned->SetActive(true);
    ASSERT_TRUE(pty.Send("line\r\nmore\r\n"));
    EXPECT_TRUE(PumpUntil(noneLeft)) << counts();
    // The freed reader has exited; taking the hand-off lock once more lets the thread
    // sanitizer see that too, instead of a race with the process exit.
    kestrin::CheckSynchronize(0);
}
