#include "platform/PortTable.h"
#include "platform/PtyHelpers.h"
#include "platform/SerialDevice.h"
#include "serial/uVornComport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <dirent.h>
#include <thread>
#include <vector>

using testing_pty::Pty;
using testing_pty::PumpFor;
using testing_pty::PumpUntil;

namespace {

// An open port on a fresh pseudo-terminal.
struct PortOnPty {
    static constexpr int kNumber = 50;
    Pty pty;
    TVornComPort port;
    explicit PortOnPty(bool open = true)
    {
        kestrin::SetPortPath(kNumber, pty.slavePath);
        port.SetPort(kNumber);
        if (open)
            port.SetActive(true);
    }
    ~PortOnPty()
    {
        port.SetActive(false);
        kestrin::RemovePort(kNumber);
    }
    // Bytes the reader has taken from the tty but not yet handed out by the port.
    uint32_t DeviceQueued() { return port.CommThread()->Device()->ClearError(); }
};

std::string Pattern(size_t n)
{
    std::string s(n, '\0');
    for (size_t i = 0; i < n; ++i)
        s[i] = char((i * 7 + i / 251) & 0xFF);
    return s;
}

int CountEntries(const char* dir)
{
    int n = 0;
    if (DIR* d = opendir(dir)) {
        while (readdir(d))
            ++n;
        closedir(d);
    }
    return n;
}

} // namespace

TEST(Receive, AWholeReplyIsCountedAndReadWhole)
{
    PortOnPty p(false);
    p.port.SetRxBuffer(16384);
    p.port.SetOnDataAvailable([](TVornComPort*) {});
    p.port.SetActive(true);
    const std::string reply = Pattern(16000);
    std::thread other([&] { EXPECT_TRUE(p.pty.Send(reply)); }); // blocks while the tty is full
    EXPECT_TRUE(PumpUntil([&] { return p.port.InQueue() == 16000; }))
        << "InQueue " << p.port.InQueue();
    other.join();
    std::string got(16000, '\0');
    EXPECT_EQ(p.port.Read(got.data(), 16000), 16000);
    EXPECT_EQ(got, reply);
    EXPECT_EQ(p.port.InQueue(), 0u);
}

TEST(Receive, PlainModeWithAndWithoutHandler)
{
    PortOnPty p;
    int calls = 0;
    p.port.SetOnDataAvailable([&](TVornComPort* sender) {
        EXPECT_EQ(sender, &p.port);
        EXPECT_TRUE(kestrin::IsUiThread());
        ++calls;
    });
    ASSERT_TRUE(p.pty.Send(Pattern(2000)));
    EXPECT_TRUE(PumpUntil([&] { return p.port.InQueue() == 2000; }));
    EXPECT_GE(calls, 1);

    char buf[3000];
    EXPECT_EQ(p.port.Read(buf, 0), 0);
    EXPECT_EQ(p.port.Read(buf, -5), 0);
    EXPECT_EQ(p.port.InQueue(), 2000u);
    EXPECT_EQ(p.port.Read(buf, 3000), 2000);
    EXPECT_EQ(std::string(buf, 2000), Pattern(2000));
    EXPECT_EQ(p.port.InQueue(), 0u);
    EXPECT_EQ(p.port.Read(buf, 3000), 0);

    // No handler: the bytes are read and dropped.
    p.port.SetOnDataAvailable(nullptr);
    ASSERT_TRUE(p.pty.Send(Pattern(2000)));
    EXPECT_TRUE(PumpUntil([&] { return p.pty.Receive(0).empty() && p.DeviceQueued() == 0; }));
    PumpFor(100);
    EXPECT_EQ(p.port.InQueue(), 0u);
    // With a handler again only new bytes count: the dropped ones are gone for good.
    p.port.SetOnDataAvailable([](TVornComPort*) {});
    ASSERT_TRUE(p.pty.Send("z"));
    EXPECT_TRUE(PumpUntil([&] { return p.port.InQueue() > 0; }));
    EXPECT_EQ(p.port.Read(buf, 3000), 1);
    EXPECT_EQ(buf[0], 'z');
}

TEST(Receive, PurgeRxEmptiesTheQueueAndTheCount)
{
    PortOnPty p;
    p.port.SetOnDataAvailable([](TVornComPort*) {});
    ASSERT_TRUE(p.pty.Send("stale bytes"));
    EXPECT_TRUE(PumpUntil([&] { return p.port.InQueue() == 11; }));
    p.port.PurgeRx();
    p.port.PurgeTx();
    EXPECT_EQ(p.port.InQueue(), 0u);
    char buf[16];
    EXPECT_EQ(p.port.Read(buf, 16), 0);
    ASSERT_TRUE(p.pty.Send("new"));
    EXPECT_TRUE(PumpUntil([&] { return p.port.InQueue() == 3; }));
    EXPECT_EQ(p.port.Read(buf, 16), 3);
    EXPECT_EQ(std::string(buf, 3), "new");
}

TEST(Receive, LineModeCollectsLinesAcrossEvents)
{
    PortOnPty p;
    std::vector<uint32_t> offered;
    std::vector<std::string> lines;
    p.port.SetLineMode(true);
    p.port.SetOnDataAvailable([&](TVornComPort* port) {
        offered.push_back(port->InQueue());
        std::string line(port->InQueue(), '\0');
        EXPECT_EQ(port->Read(line.data(), int32_t(line.size())), int32_t(line.size()));
        lines.push_back(line);
    });
    TVornCommBuffer* buffer = p.port.CommThread()->LineBuffer();

    // Half a line: no call yet.
    ASSERT_TRUE(p.pty.Send("ab"));
    EXPECT_TRUE(PumpUntil([&] { return buffer->WritePos == 2; }));
    EXPECT_TRUE(offered.empty());
    ASSERT_TRUE(p.pty.Send("cd\r\n"));
    EXPECT_TRUE(PumpUntil([&] { return !lines.empty(); }));
    EXPECT_EQ(offered, std::vector<uint32_t>{6});
    EXPECT_EQ(lines, std::vector<std::string>{"abcd\r\n"});
    EXPECT_EQ(buffer->ReadPos, 0);
    EXPECT_EQ(buffer->WritePos, 0);
    EXPECT_EQ(buffer->ScanPos, 0);

    // A line end split over two events.
    offered.clear();
    lines.clear();
    ASSERT_TRUE(p.pty.Send("xyz\r"));
    EXPECT_TRUE(PumpUntil([&] { return buffer->WritePos == 4; }));
    EXPECT_TRUE(lines.empty());
    ASSERT_TRUE(p.pty.Send("\n"));
    EXPECT_TRUE(PumpUntil([&] { return !lines.empty(); }));
    EXPECT_EQ(lines, std::vector<std::string>{"xyz\r\n"});

    // Two lines and an empty one in one event: one call per line end.
    offered.clear();
    lines.clear();
    ASSERT_TRUE(p.pty.Send("l1\r\nline2\r\n\r\n"));
    EXPECT_TRUE(PumpUntil([&] { return lines.size() == 3; }));
    EXPECT_EQ(offered, (std::vector<uint32_t>{4, 7, 2}));
    EXPECT_EQ(lines, (std::vector<std::string>{"l1\r\n", "line2\r\n", "\r\n"}));

    // Another line end: a single LF.
    lines.clear();
    p.port.SetLineEnd("\n");
    ASSERT_TRUE(p.pty.Send("a\nb\n"));
    EXPECT_TRUE(PumpUntil([&] { return lines.size() == 2; }));
    EXPECT_EQ(lines, (std::vector<std::string>{"a\n", "b\n"}));

    // An empty line end makes every byte a line of its own.
    lines.clear();
    p.port.SetLineEnd("");
    ASSERT_TRUE(p.pty.Send("123"));
    EXPECT_TRUE(PumpUntil([&] { return lines.size() == 3; }));
    EXPECT_EQ(lines, (std::vector<std::string>{"1", "2", "3"}));
}

TEST(Receive, LineModeKeepsUnreadLinesAndHandsThemOverOnSwitchOff)
{
    PortOnPty p;
    std::vector<uint32_t> offered;
    bool readNow = false;
    std::string taken;
    p.port.SetLineMode(true);
    p.port.SetOnDataAvailable([&](TVornComPort* port) {
        offered.push_back(port->InQueue());
        if (readNow) {
            std::string s(port->InQueue(), '\0');
            port->Read(s.data(), int32_t(s.size()));
            taken += s;
        }
    });
    ASSERT_TRUE(p.pty.Send("one\r\n"));
    EXPECT_TRUE(PumpUntil([&] { return offered.size() == 1; }));
    // Not read: the next line end offers both lines together.
    ASSERT_TRUE(p.pty.Send("two\r\nrest"));
    EXPECT_TRUE(PumpUntil([&] { return offered.size() == 2; }));
    EXPECT_EQ(offered, (std::vector<uint32_t>{5, 10}));
    EXPECT_EQ(p.port.InQueue(), 10u);

    // Switching line mode off hands the complete lines over once...
    readNow = true;
    p.port.SetLineMode(false);
    EXPECT_EQ(offered.size(), 3u);
    EXPECT_EQ(taken, "one\r\ntwo\r\n");
    // ...and the partial line is not lost: plain reads get it.
    EXPECT_EQ(p.port.InQueue(), 4u);
    char buf[8];
    EXPECT_EQ(p.port.Read(buf, 8), 4);
    EXPECT_EQ(std::string(buf, 4), "rest");

    // Bytes received in plain mode are scanned for lines once line mode is back on.
    readNow = false;
    ASSERT_TRUE(p.pty.Send("three\r\n"));
    EXPECT_TRUE(PumpUntil([&] { return p.port.InQueue() == 7; }));
    taken.clear();
    readNow = true;
    p.port.SetLineMode(true);
    EXPECT_TRUE(PumpUntil([&] { return !taken.empty(); }));
    EXPECT_EQ(taken, "three\r\n");
}

TEST(Receive, DataSentIsReported)
{
    PortOnPty p;
    std::atomic<int> sent{0};
    p.port.SetOnDataSent([&](TVornComPort*) { ++sent; });
    ASSERT_EQ(p.port.WriteString("request\r\n"), 9);
    EXPECT_TRUE(PumpUntil([&] { return sent > 0; }));
    EXPECT_EQ(p.pty.Receive(1000), "request\r\n");
}

// The sweep worker's way: configure, open, poll and read on its own thread while the
// UI thread runs the notifications; every byte arrives once, in order.
TEST(Receive, APortUsedFromAWorkerThreadReadsEveryByteOnce)
{
    Pty pty;
    kestrin::SetPortPath(51, pty.slavePath);
    const std::string data = Pattern(30000);
    std::string got;
    std::atomic<bool> done{false};
    std::thread worker([&] {
        TVornComPort port;
        port.SetPort(51);
        port.SetBaudrate(115200);
        port.SetRxBuffer(16384);
        port.SetOnDataAvailable([](TVornComPort*) {});
        port.SetActive(true);
        port.PurgeRx();
        port.PurgeTx();
        port.WriteString("go\r\n");
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (got.size() < data.size() && std::chrono::steady_clock::now() < deadline) {
            const uint32_t queued = port.InQueue();
            if (queued == 0) {
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
                continue;
            }
            std::string piece(std::min<uint32_t>(queued, 1500), '\0');
            // The count never promises more than the queue holds.
            EXPECT_EQ(port.Read(piece.data(), int32_t(piece.size())), int32_t(piece.size()));
            got += piece;
        }
        port.SetActive(false);
        done = true;
    });
    EXPECT_EQ(pty.Receive(5000), "go\r\n");
    std::thread other([&] { EXPECT_TRUE(pty.Send(data)); });
    EXPECT_TRUE(PumpUntil([&] { return done.load(); }, 15000));
    other.join();
    worker.join();
    EXPECT_EQ(got.size(), data.size());
    EXPECT_TRUE(got == data);
    kestrin::RemovePort(51);
}

TEST(Receive, DeviceLossEndsTheReaderWithoutBurningCpu)
{
    PortOnPty p;
    p.port.SetOnDataAvailable([](TVornComPort*) {});
    ASSERT_TRUE(p.pty.Send("x"));
    EXPECT_TRUE(PumpUntil([&] { return p.port.InQueue() == 1; }));
    EXPECT_FALSE(p.port.Lost());

    const auto unplugged = std::chrono::steady_clock::now();
    p.pty.CloseMaster();
    // Polled finely so that the figure shows the reader's reaction, not the test's.
    while (!p.port.CommThread()->Finished()
           && std::chrono::steady_clock::now() - unplugged < std::chrono::seconds(2)) {
        kestrin::CheckSynchronize(0);
        std::this_thread::sleep_for(std::chrono::microseconds(100));
    }
    EXPECT_TRUE(p.port.Lost());
    const auto reaction = std::chrono::duration_cast<std::chrono::microseconds>(
        std::chrono::steady_clock::now() - unplugged);
    EXPECT_LT(reaction, std::chrono::milliseconds(500));

    // Nothing is left to hand over: the whole process sleeps for a second.
    const double cpuBefore = testing_pty::ProcessCpuSeconds();
    std::this_thread::sleep_for(std::chrono::seconds(1));
    const double cpu = testing_pty::ProcessCpuSeconds() - cpuBefore;
    EXPECT_LT(cpu, 0.02);
    // The figures land in the test report (--gtest_output=xml).
    RecordProperty("loss_reaction_us", int(reaction.count()));
    RecordProperty("cpu_us_in_1s_after_loss", int(cpu * 1e6));

    EXPECT_TRUE(p.port.Active());
    EXPECT_EQ(p.port.WriteString("gone"), 0);
    char c = 0;
    EXPECT_EQ(p.port.Read(&c, 1), 1); // what arrived before the loss is still there
    EXPECT_EQ(c, 'x');
    p.port.SetActive(false);
    EXPECT_FALSE(p.port.Lost());
    EXPECT_FALSE(p.port.Active());
}

TEST(Receive, OpenCloseCyclesLeaveNothingBehind)
{
    PortOnPty p(false);
    p.port.SetOnDataAvailable([](TVornComPort*) {});
    p.port.SetActive(true); // warm up whatever the first open sets up once
    p.port.SetActive(false);
    const int fds = CountEntries("/proc/self/fd");
    const int tasks = CountEntries("/proc/self/task");
    for (int i = 0; i < 1000; ++i) {
        p.port.SetActive(true); // Close right after Open: the stop request must not get lost
        p.port.SetActive(false);
    }
    EXPECT_EQ(CountEntries("/proc/self/fd"), fds);
    EXPECT_EQ(CountEntries("/proc/self/task"), tasks);
}

TEST(Receive, CloseOnTheUiThreadWhileTheReaderWaitsInSynchronize)
{
    PortOnPty p;
    int calls = 0;
    p.port.SetOnDataAvailable([&](TVornComPort*) { ++calls; });
    ASSERT_TRUE(p.pty.Send("pending"));
    // Without pumping, the reader drains the bytes and then blocks handing the event over.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (p.DeviceQueued() == 0 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(calls, 0);
    p.port.SetActive(false); // must run the pending notification instead of deadlocking
    EXPECT_EQ(calls, 1);
    EXPECT_FALSE(p.port.Active());
}

TEST(Receive, AFailingHandlerEndsTheReaderOnly)
{
    PortOnPty p;
    p.port.SetOnDataAvailable([](TVornComPort*) { throw std::runtime_error("handler failed"); });
    ASSERT_TRUE(p.pty.Send("x"));
    EXPECT_TRUE(PumpUntil([&] { return p.port.CommThread()->Finished(); }));
    EXPECT_TRUE(p.port.CommThread()->FatalException());
    EXPECT_FALSE(p.port.Lost());
    p.port.SetActive(false);
}

TEST(Receive, AHandlerMayCloseOrFreeItsOwnPort)
{
    Pty pty;
    kestrin::SetPortPath(52, pty.slavePath);
    const int tasks = CountEntries("/proc/self/task");
    const int fds = CountEntries("/proc/self/fd");
    bool closed = false;
    {
        TVornComPort port;
        port.SetPort(52);
        port.SetOnDataAvailable([&](TVornComPort* sender) {
            sender->SetActive(false); // the reader is waiting for this very call
            closed = true;
        });
        port.SetActive(true);
        ASSERT_TRUE(pty.Send("bye"));
        EXPECT_TRUE(PumpUntil([&] { return closed; }));
        EXPECT_FALSE(port.Active());
        EXPECT_TRUE(PumpUntil([&] { return CountEntries("/proc/self/task") == tasks; }));
        port.SetActive(true); // the device was let go
        EXPECT_TRUE(port.Active());
    }
    auto* owned = new TVornComPort;
    owned->SetPort(52);
    owned->SetLineMode(true);
    owned->SetOnDataAvailable([&](TVornComPort* sender) {
        char line[16];
        EXPECT_EQ(sender->Read(line, sizeof line), 6);
        delete sender;
    });
    owned->SetActive(true);
    ASSERT_TRUE(pty.Send("line\r\nmore\r\n"));
    EXPECT_TRUE(PumpUntil([&] {
        return CountEntries("/proc/self/task") == tasks && CountEntries("/proc/self/fd") == fds;
    }));
    kestrin::RemovePort(52);
}
