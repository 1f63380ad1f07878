// The COM port device against a driver played by the test, as real Windows drivers (FTDI,
// CH340, CP210x, Microsoft's serial sample) behave and Wine's never does: waits that stay
// pending until bytes come, EV_RXCHAR raised only for bytes that arrive during a wait, a DCB
// refused over the buffer it really has, errors after an unplug while ClearCommError goes on
// succeeding, a cancel that is ignored.
#include "acquisition/TComThread.h"
#include "platform/SerialDevice.h"
#include "platform/SerialDriver_win.h"
#include "support/Process.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <deque>
#include <future>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

using namespace kestrin;
using Wait = SerialDevice::WaitResult;
using namespace std::chrono_literals;

namespace {

constexpr ULONG_PTR kPending = 0x103; // an OVERLAPPED's Internal while the driver has it
const HANDLE kPort = reinterpret_cast<HANDLE>(uintptr_t(0x5eed));

class ScriptedDriver {
public:
    // ---- how the driver behaves (set before the device is opened, or with Set)
    DWORD createError = 0;       // CreateFileA fails with it
    DWORD timeoutsError = 0;     // SetCommTimeouts fails with it
    DWORD stateError = 0;        // SetCommState refuses every DCB with it
    DWORD bufferSize = 4096;     // its real receive buffer: SetupComm's sizes are only advice
    bool ignoreCancel = false;   // CancelIoEx and SetCommMask leave pending I/O pending
    bool readsPend = false;      // ReadFile goes pending and the driver never ends it
    int readsReturningZero = 0;  // so many reads deliver nothing although bytes are counted
    int readsAborted = 0;        // so many reads fail as aborted
    std::string arriveAfterNextCount; // arrives right after the next ClearCommError has counted
    DCB dcb{};                   // the state it holds

    ScriptedDriver()
    {
        dcb.DCBlength = sizeof dcb;
        dcb.BaudRate = 9600;
        dcb.fBinary = 1;
        dcb.ByteSize = 8;
        dcb.XonLim = 2048;
        dcb.XoffLim = 512;
        dcb.XonChar = 0x11;
        dcb.XoffChar = 0x13;
    }
    ~ScriptedDriver() { Release(); }

    std::unique_lock<std::mutex> Lock() { return std::unique_lock(mutex_); }
    // Changes how it behaves while a device uses it.
    template <typename Change>
    void Set(Change change)
    {
        std::lock_guard lock(mutex_);
        change(*this);
    }

    // Bytes reach the driver; a pending wait for EV_RXCHAR ends with it, else none is raised.
    void Receive(const std::string& bytes)
    {
        std::lock_guard lock(mutex_);
        rx_.insert(rx_.end(), bytes.begin(), bytes.end());
        if (wait_ && (mask_ & EV_RXCHAR)) {
            *waitEvents_ = EV_RXCHAR;
            EndLocked(wait_, 0, 0);
        }
    }
    // The device is pulled out: every call fails with error, except ClearCommError while
    // clearErrorSurvives; a pending wait ends with endWaitWith (0: it never ends).
    void Unplug(DWORD error, bool clearErrorSurvives, DWORD endWaitWith = 0)
    {
        std::lock_guard lock(mutex_);
        gone_ = error;
        clearErrorSurvives_ = clearErrorSurvives;
        if (wait_ && endWaitWith)
            EndLocked(wait_, endWaitWith, 0);
    }
    // Ends whatever the driver still holds, so that nothing the test started waits for ever.
    void Release()
    {
        std::lock_guard lock(mutex_);
        ignoreCancel = false;
        readsPend = false;
        for (OVERLAPPED* io : {wait_, read_})
            if (io)
                EndLocked(io, ERROR_OPERATION_ABORTED, 0);
    }
    bool WaitPending()
    {
        std::lock_guard lock(mutex_);
        return wait_ != nullptr;
    }
    bool ReadPending()
    {
        std::lock_guard lock(mutex_);
        return read_ != nullptr;
    }
    std::vector<DWORD> Escapes()
    {
        std::lock_guard lock(mutex_);
        return escapes_;
    }
    bool Closed()
    {
        std::lock_guard lock(mutex_);
        return closed_;
    }

    std::shared_ptr<const SerialDriver> Calls()
    {
        auto d = std::make_shared<SerialDriver>();
        d->CreateFileA = [this](LPCSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE) {
            std::lock_guard lock(mutex_);
            return createError ? Fail<HANDLE>(createError, INVALID_HANDLE_VALUE) : kPort;
        };
        d->CloseHandle = [this](HANDLE) {
            std::lock_guard lock(mutex_);
            closed_ = true;
            return TRUE;
        };
        d->GetCommState = [this](HANDLE, LPDCB out) {
            std::lock_guard lock(mutex_);
            if (gone_)
                return Fail(gone_);
            *out = dcb;
            return TRUE;
        };
        d->SetCommState = [this](HANDLE, LPDCB in) {
            std::lock_guard lock(mutex_);
            if (gone_ || stateError)
                return Fail(gone_ ? gone_ : stateError);
            // As Microsoft's serial sample: limits beyond the real buffer, or XON equal to
            // XOFF, are an invalid parameter, flow control or not.
            if (in->XonLim > bufferSize || in->XoffLim > bufferSize || in->XonChar == in->XoffChar)
                return Fail(ERROR_INVALID_PARAMETER);
            dcb = *in;
            return TRUE;
        };
        d->GetCommProperties = [this](HANDLE, LPCOMMPROP p) {
            std::lock_guard lock(mutex_);
            if (gone_)
                return Fail(gone_);
            p->dwCurrentRxQueue = bufferSize;
            return TRUE;
        };
        d->SetupComm = [this](HANDLE, DWORD, DWORD) {
            std::lock_guard lock(mutex_);
            return gone_ ? Fail(gone_) : TRUE;
        };
        d->SetCommTimeouts = [this](HANDLE, LPCOMMTIMEOUTS) {
            std::lock_guard lock(mutex_);
            return timeoutsError ? Fail(timeoutsError) : TRUE;
        };
        d->SetCommMask = [this](HANDLE, DWORD mask) {
            std::lock_guard lock(mutex_);
            if (gone_)
                return Fail(gone_);
            mask_ = mask;
            if (wait_ && !ignoreCancel) {
                *waitEvents_ = 0;
                EndLocked(wait_, 0, 0);
            }
            return TRUE;
        };
        d->WaitCommEvent = [this](HANDLE, LPDWORD events, LPOVERLAPPED io) {
            std::lock_guard lock(mutex_);
            if (gone_)
                return Fail(gone_);
            ResetEvent(io->hEvent);
            io->Internal = kPending;
            wait_ = io;
            waitEvents_ = events;
            return Fail(ERROR_IO_PENDING);
        };
        d->ClearCommError = [this](HANDLE, LPDWORD errors, LPCOMSTAT status) {
            std::lock_guard lock(mutex_);
            if (gone_ && !clearErrorSurvives_)
                return Fail(gone_);
            if (errors)
                *errors = 0;
            *status = COMSTAT{};
            status->cbInQue = DWORD(rx_.size());
            rx_.insert(rx_.end(), arriveAfterNextCount.begin(), arriveAfterNextCount.end());
            arriveAfterNextCount.clear();
            return TRUE;
        };
        d->ReadFile = [this](HANDLE, LPVOID buffer, DWORD want, LPDWORD got, LPOVERLAPPED io) {
            std::lock_guard lock(mutex_);
            if (gone_)
                return Fail(gone_);
            if (readsAborted > 0) {
                --readsAborted;
                return Fail(ERROR_OPERATION_ABORTED);
            }
            if (readsPend) {
                ResetEvent(io->hEvent);
                io->Internal = kPending;
                read_ = io;
                return Fail(ERROR_IO_PENDING);
            }
            DWORD n = 0;
            if (readsReturningZero > 0)
                --readsReturningZero;
            else
                n = std::min<DWORD>(want, DWORD(rx_.size()));
            std::copy_n(rx_.begin(), n, static_cast<uint8_t*>(buffer));
            rx_.erase(rx_.begin(), rx_.begin() + n);
            *got = n;
            return TRUE;
        };
        d->WriteFile = [this](HANDLE, LPCVOID, DWORD count, LPDWORD done, LPOVERLAPPED) {
            std::lock_guard lock(mutex_);
            if (gone_)
                return Fail(gone_);
            *done = count;
            return TRUE;
        };
        d->GetOverlappedResult = [](HANDLE, LPOVERLAPPED io, LPDWORD n, BOOL wait) {
            if (io->Internal == kPending) {
                if (!wait)
                    return Fail(ERROR_IO_INCOMPLETE);
                WaitForSingleObject(io->hEvent, INFINITE);
            }
            *n = DWORD(io->InternalHigh);
            return io->Internal ? Fail(DWORD(io->Internal)) : TRUE;
        };
        d->CancelIoEx = [this](HANDLE, LPOVERLAPPED io) {
            std::lock_guard lock(mutex_);
            if (!ignoreCancel && (io == wait_ || io == read_))
                EndLocked(io, ERROR_OPERATION_ABORTED, 0);
            return TRUE;
        };
        d->PurgeComm = [this](HANDLE, DWORD flags) {
            std::lock_guard lock(mutex_);
            if (gone_)
                return Fail(gone_);
            if (flags & PURGE_RXCLEAR)
                rx_.clear();
            return TRUE;
        };
        d->EscapeCommFunction = [this](HANDLE, DWORD function) {
            std::lock_guard lock(mutex_);
            escapes_.push_back(function);
            if (gone_)
                return Fail(gone_);
            // DTR belongs to the driver while it does DTR handshaking.
            if ((function == SETDTR || function == CLRDTR) && dcb.fDtrControl == DTR_CONTROL_HANDSHAKE)
                return Fail(ERROR_INVALID_PARAMETER);
            return TRUE;
        };
        return d;
    }

private:
    template <typename T = BOOL>
    static T Fail(DWORD error, T result = FALSE)
    {
        SetLastError(error);
        return result;
    }
    void EndLocked(OVERLAPPED*& io, DWORD error, DWORD bytes)
    {
        io->InternalHigh = bytes;
        io->Internal = error;
        SetEvent(io->hEvent);
        if (io == wait_)
            wait_ = nullptr;
        if (io == read_)
            read_ = nullptr;
    }

    std::mutex mutex_;
    std::deque<uint8_t> rx_;
    DWORD mask_ = 0;
    OVERLAPPED* wait_ = nullptr;
    DWORD* waitEvents_ = nullptr;
    OVERLAPPED* read_ = nullptr;
    DWORD gone_ = 0;
    bool clearErrorSurvives_ = false;
    bool closed_ = false;
    std::vector<DWORD> escapes_;
};

// The line state the sweep worker hands over: 115200 baud 8N1, DTR and RTS on, and the
// limits of its 16384-byte receive queue.
SerialLineState WorkerState()
{
    SerialLineState s;
    s.baudRate = 115200;
    s.xonLimit = 8192;
    s.xoffLimit = 12288;
    return s;
}

// A device opened on the driver and set up as the serial component does it.
std::unique_ptr<SerialDevice> OpenOn(ScriptedDriver& driver, SerialLineState state = WorkerState())
{
    int error = 0;
    auto dev = SerialDevice::Open("COM5", &error, driver.Calls());
    if (!dev)
        return nullptr;
    dev->SetQueueSizes(16384, 8192);
    dev->SetState(state);
    dev->SetEventMask(kSerialEvRxChar | kSerialEvTxEmpty);
    return dev;
}

// WaitEvent on a thread of its own.
std::future<Wait> WaitOn(SerialDevice& dev)
{
    return std::async(std::launch::async, [&dev] {
        uint32_t events = 0;
        return dev.WaitEvent(events);
    });
}

// Until the driver holds the device's pending wait, or the wait has ended without it.
void UntilWaitPending(ScriptedDriver& driver, std::future<Wait>& waiting)
{
    while (!driver.WaitPending() && waiting.wait_for(1ms) != std::future_status::ready) {
    }
}

// Whether f ends within ms; generous, so that only a wait without end fails it.
template <typename T>
bool EndsWithin(std::future<T>& f, std::chrono::milliseconds ms = 10s)
{
    return f.wait_for(ms) == std::future_status::ready;
}

std::string ReadAll(SerialDevice& dev)
{
    char buf[64];
    return std::string(buf, size_t(dev.Read(buf, sizeof buf)));
}

} // namespace

TEST(DriverBehaviour, ARefusedLineSetupIsRetriedAsTheDriverTakesItAndReportedWhenItStays)
{
    // Limits beyond the buffer the driver really has, after a terminal program left larger
    // ones still and XON equal to XOFF: the analyser's speed must reach the driver all the same.
    for (const WORD leftLimit : {WORD(2048), WORD(30000)}) {
        SCOPED_TRACE(leftLimit);
        ScriptedDriver driver;
        driver.dcb.XonLim = driver.dcb.XoffLim = leftLimit;
        driver.dcb.XoffChar = driver.dcb.XonChar;
        auto dev = OpenOn(driver);
        ASSERT_TRUE(dev);
        auto lock = driver.Lock();
        EXPECT_EQ(driver.dcb.BaudRate, 115200u);
        EXPECT_NE(driver.dcb.XonChar, driver.dcb.XoffChar);
        EXPECT_EQ(dev->StateRefusal(), "");
    }
    // A driver that refuses whatever it is given: the port runs at its old speed, and the
    // device says so with the driver's reason.
    ScriptedDriver driver;
    driver.stateError = ERROR_INVALID_PARAMETER;
    auto dev = OpenOn(driver);
    ASSERT_TRUE(dev);
    const std::string refusal = dev->StateRefusal();
    EXPECT_NE(refusal.find("'COM5'"), std::string::npos) << refusal;
    EXPECT_NE(refusal.find("115200 baud"), std::string::npos) << refusal;
    EXPECT_GT(refusal.size(), refusal.find("): ") + 3) << "the driver's reason: " << refusal;
}

TEST(DriverBehaviour, AnUnplugThatOnlyTheCallsTellIsTheDevicesLoss)
{
    // ClearCommError goes on succeeding on the dead handle, as some drivers let it.
    {
        // CH340: the next wait is refused with access denied.
        ScriptedDriver driver;
        auto dev = OpenOn(driver);
        ASSERT_TRUE(dev);
        driver.Unplug(ERROR_ACCESS_DENIED, true);
        auto waiting = WaitOn(*dev);
        const bool ended = EndsWithin(waiting);
        dev->Stop();
        EXPECT_TRUE(ended && waiting.get() == Wait::Lost);
    }
    {
        // The pending wait ends with a failure as the device goes.
        ScriptedDriver driver;
        auto dev = OpenOn(driver);
        ASSERT_TRUE(dev);
        auto waiting = WaitOn(*dev);
        UntilWaitPending(driver, waiting);
        driver.Unplug(ERROR_GEN_FAILURE, true, ERROR_GEN_FAILURE);
        const bool ended = EndsWithin(waiting);
        dev->Stop();
        EXPECT_TRUE(ended && waiting.get() == Wait::Lost);
    }
    {
        // A request line that cannot be written: nothing taken, and the device is lost.
        ScriptedDriver driver;
        auto dev = OpenOn(driver);
        ASSERT_TRUE(dev);
        driver.Unplug(ERROR_BAD_COMMAND, true);
        EXPECT_EQ(dev->Write("0\r", 2), 0);
        EXPECT_TRUE(dev->Lost());
    }
}

TEST(DriverBehaviour, AWaitOrReadTheDriverNeverEndsHangsNeitherStopNorClose)
{
    {
        // Surprise removal: the wait stays pending for good, the cancel is ignored, and only
        // ClearCommError tells. The reader must notice, and closing must not hang.
        ScriptedDriver driver;
        auto dev = OpenOn(driver);
        ASSERT_TRUE(dev);
        auto waiting = WaitOn(*dev);
        UntilWaitPending(driver, waiting);
        driver.Set([](ScriptedDriver& d) { d.ignoreCancel = true; });
        driver.Unplug(ERROR_DEVICE_REMOVED, false);
        const bool noticed = EndsWithin(waiting);
        dev->Stop();
        EXPECT_TRUE(noticed && waiting.get() == Wait::Lost);
        auto closing = std::async(std::launch::async, [&] { dev->CloseHandle(); });
        const bool closed = EndsWithin(closing);
        driver.Release(); // what a hung close waits for
        closing.get();
        EXPECT_TRUE(closed);
        EXPECT_TRUE(driver.Closed());
    }
    {
        // A read the driver keeps: Stop still ends the reader.
        ScriptedDriver driver;
        auto dev = OpenOn(driver);
        ASSERT_TRUE(dev);
        driver.Set([](ScriptedDriver& d) { d.readsPend = d.ignoreCancel = true; });
        auto waiting = WaitOn(*dev);
        driver.Receive("abc");
        // Until the reader has gone into the read that the driver keeps.
        while (!driver.ReadPending() && waiting.wait_for(1ms) != std::future_status::ready) {
        }
        EXPECT_TRUE(driver.ReadPending());
        auto stopping = std::async(std::launch::async, [&] { dev->Stop(); });
        const bool stopped = EndsWithin(stopping) && EndsWithin(waiting);
        driver.Release();
        stopping.get();
        EXPECT_TRUE(stopped && waiting.get() == Wait::Stopped);
    }
}

TEST(DriverBehaviour, BytesLeftInTheDriverAreFetchedWithoutAnotherEvent)
{
    uint32_t events = 0;
    {
        // A read that delivers nothing although the driver counted the bytes.
        ScriptedDriver driver;
        driver.readsReturningZero = 1;
        auto dev = OpenOn(driver);
        ASSERT_TRUE(dev);
        auto waiting = WaitOn(*dev);
        UntilWaitPending(driver, waiting);
        driver.Receive("reply");
        const bool ended = EndsWithin(waiting);
        dev->Stop();
        ASSERT_TRUE(ended && waiting.get() == Wait::Event);
        EXPECT_EQ(ReadAll(*dev), "reply");
    }
    {
        // The end of a reply arrives after ClearCommError has counted and before the next
        // wait starts; the driver raises no event for it.
        ScriptedDriver driver;
        auto dev = OpenOn(driver);
        ASSERT_TRUE(dev);
        driver.Set([](ScriptedDriver& d) { d.arriveAfterNextCount = "end"; });
        auto waiting = WaitOn(*dev);
        const bool ended = EndsWithin(waiting);
        dev->Stop();
        ASSERT_TRUE(ended && waiting.get() == Wait::Event);
        EXPECT_EQ(ReadAll(*dev), "end");
        EXPECT_EQ(dev->WaitEvent(events), Wait::Stopped);
    }
}

TEST(DriverBehaviour, AnAbortedReadIsNoData)
{
    // Abort-on-error left on by another program fails a read after a line error.
    ScriptedDriver driver;
    driver.readsAborted = 1;
    auto dev = OpenOn(driver);
    ASSERT_TRUE(dev);
    auto waiting = WaitOn(*dev);
    UntilWaitPending(driver, waiting);
    driver.Receive("hello");
    const bool ended = EndsWithin(waiting);
    dev->Stop();
    ASSERT_TRUE(ended);
    EXPECT_EQ(waiting.get(), Wait::Event);
    EXPECT_FALSE(dev->Lost());
    EXPECT_EQ(ReadAll(*dev), "hello");
}

TEST(DriverBehaviour, TheResultsOfTheSetupCallsCount)
{
    // Without its timeouts a read would wait for its whole count: the port does not open.
    ScriptedDriver refusing;
    refusing.timeoutsError = ERROR_INVALID_PARAMETER;
    int error = 0;
    EXPECT_EQ(SerialDevice::Open("COM5", &error, refusing.Calls()), nullptr);
    EXPECT_NE(error, 0);
    EXPECT_TRUE(refusing.Closed());

    // Under DTR handshaking the driver owns DTR: it is not switched by hand.
    ScriptedDriver driver;
    SerialLineState state = WorkerState();
    state.flags = (state.flags & ~SerialFlag::DtrMask) | SerialFlag::DtrHandshake;
    auto dev = OpenOn(driver, state);
    ASSERT_TRUE(dev);
    const std::vector<DWORD> escapes = driver.Escapes();
    EXPECT_EQ(std::count(escapes.begin(), escapes.end(), DWORD(SETDTR)), 0);
    EXPECT_EQ(std::count(escapes.begin(), escapes.end(), DWORD(SETRTS)), 1);
    EXPECT_EQ(dev->StateRefusal(), "");
    EXPECT_FALSE(dev->Lost());
}

TEST(DriverBehaviour, APortThatIsNotThereIsToldSo)
{
    const std::string message = "Cannot open port 'COM5'";
    for (const DWORD gone : {DWORD(ERROR_DEVICE_REMOVED), DWORD(ERROR_DEVICE_NOT_CONNECTED), DWORD(433),
                             DWORD(ERROR_DEV_NOT_EXIST)}) {
        SCOPED_TRACE(gone);
        ScriptedDriver driver;
        driver.createError = gone;
        int error = 0;
        EXPECT_EQ(SerialDevice::Open("COM5", &error, driver.Calls()), nullptr);
        EXPECT_NE(OpenFailureText(message, error).find("The port is not there"), std::string::npos);
    }
    // A port another program holds stays that.
    ScriptedDriver held;
    held.createError = ERROR_ACCESS_DENIED;
    int error = 0;
    EXPECT_EQ(SerialDevice::Open("COM5", &error, held.Calls()), nullptr);
    EXPECT_NE(OpenFailureText(message, error).find("Another program is using this port"), std::string::npos);
}

TEST(DriverBehaviour, AWaitWithoutBytesStaysPendingQuietlyAndStopEndsItAtOnce)
{
    ScriptedDriver driver;
    auto dev = OpenOn(driver);
    ASSERT_TRUE(dev);
    const double cpuBefore = ProcessCpuSeconds();
    auto waiting = WaitOn(*dev);
    // Several looks behind the pending wait, none of them an event or a loss.
    EXPECT_EQ(waiting.wait_for(3s), std::future_status::timeout);
    EXPECT_TRUE(driver.WaitPending());
    EXPECT_LT(ProcessCpuSeconds() - cpuBefore, 0.3);
    dev->Stop();
    const bool stopped = EndsWithin(waiting, 2s);
    driver.Release();
    EXPECT_TRUE(stopped && waiting.get() == Wait::Stopped);
}
