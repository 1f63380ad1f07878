// The serial device on Windows: a COM port opened for overlapped I/O. The reader waits
// with WaitCommEvent on an overlapped event next to the stop event, and drains what the
// driver holds (ClearCommError gives the count) into the device's own receive queue.
// Every call to the driver goes through the SerialDriver table the device was opened with.
// A path of an in-process line (the simulated analyser) opens that line instead: its bytes
// go straight into the receive queue, and its arrivals wake the reader as a stop would.
#include "SerialDevice.h"

#include <windows.h>

#include "platform/InProcessLine.h"
#include "platform/PortList_win.h"
#include "platform/SerialDriver_win.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace kestrin {
namespace {

// A driver that cannot wait for events (Wine on a pseudo-terminal ends every wait at once
// as cancelled), or that counted bytes it did not deliver, is looked at this often instead.
constexpr DWORD kPollMs = 20;
// A pending wait is looked behind this often: ClearCommError then tells whether the device
// is still there and fetches bytes whose event a driver did not raise.
constexpr DWORD kHealthMs = 1000;
// A read that the driver does not complete at once is given this long.
constexpr DWORD kReadMs = 1000;
// How long a cancelled operation is given to end; a driver that keeps it longer keeps its
// record (see IoRecord) and the device counts as lost.
constexpr DWORD kCancelMs = 500;
// A write gives up when the driver takes no byte for this long.
constexpr DWORD kWriteStallMs = 2000;
constexpr DWORD kChunk = 4096;
// Not in mingw-w64's winerror.h.
constexpr DWORD kErrorNoSuchDevice = 433;

// The answers real drivers give once their device has gone (surprise removal): CH340's
// access denied, the bad command and general failure of others, the removal codes.
bool DeviceGone(DWORD error)
{
    switch (error) {
    case ERROR_ACCESS_DENIED:
    case ERROR_INVALID_HANDLE:
    case ERROR_BAD_UNIT:
    case ERROR_NOT_READY:
    case ERROR_BAD_COMMAND:
    case ERROR_GEN_FAILURE:
    case ERROR_DEV_NOT_EXIST:
    case kErrorNoSuchDevice:
    case ERROR_DEVICE_NOT_CONNECTED:
    case ERROR_DEVICE_REMOVED:
    case ERROR_DEVICE_NOT_AVAILABLE:
        return true;
    default:
        return false;
    }
}

int ErrnoFromWin32(DWORD error)
{
    switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
    case ERROR_BAD_PATHNAME:
        return ENOENT;
    case ERROR_DEV_NOT_EXIST:
    case kErrorNoSuchDevice:
    case ERROR_DEVICE_NOT_CONNECTED:
    case ERROR_DEVICE_REMOVED:
    case ERROR_DEVICE_NOT_AVAILABLE:
        return ENODEV; // the port is not there (any more)
    case ERROR_ACCESS_DENIED: // what Windows answers for a COM port that another program has open
    case ERROR_SHARING_VIOLATION:
    case ERROR_BUSY:
        return EBUSY;
    default:
        return EIO;
    }
}

// The system's text for a Win32 error, without its closing full stop and line end.
std::string SystemText(DWORD error)
{
    char text[512] = {};
    const DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0,
                                   text, sizeof text, nullptr);
    std::string s(text, n);
    while (!s.empty() && (s.back() == '\r' || s.back() == '\n' || s.back() == '.' || s.back() == ' '))
        s.pop_back();
    if (s.empty())
        s = "system error " + std::to_string(error);
    return s;
}

// One overlapped operation: what the driver writes into or reads from until the operation
// has ended. A driver that keeps it after a cancel keeps it for good: the record is then
// left to it, never freed nor reused.
struct IoRecord {
    OVERLAPPED io{};
    HANDLE event = nullptr; // manual reset; the operation has ended
    DWORD events = 0;       // where WaitCommEvent writes the events
    uint8_t data[kChunk];

    ~IoRecord()
    {
        if (event)
            ::CloseHandle(event);
    }
    // Null when the system has no event left.
    static std::unique_ptr<IoRecord> Make()
    {
        auto r = std::make_unique<IoRecord>();
        r->event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        if (!r->event)
            return nullptr;
        r->io.hEvent = r->event;
        return r;
    }
    // Ready for the next operation.
    void Reset()
    {
        const HANDLE e = event;
        io = OVERLAPPED{};
        io.hEvent = e;
        events = 0;
        ResetEvent(e);
    }
};

SerialLineState StateFromDcb(const DCB& d)
{
    SerialLineState s;
    s.baudRate = d.BaudRate;
    s.flags = uint32_t(d.fBinary) | uint32_t(d.fParity) << 1 | uint32_t(d.fOutxCtsFlow) << 2
              | uint32_t(d.fOutxDsrFlow) << 3 | uint32_t(d.fDtrControl) << 4 | uint32_t(d.fDsrSensitivity) << 6
              | uint32_t(d.fTXContinueOnXoff) << 7 | uint32_t(d.fOutX) << 8 | uint32_t(d.fInX) << 9
              | uint32_t(d.fErrorChar) << 10 | uint32_t(d.fNull) << 11 | uint32_t(d.fRtsControl) << 12
              | uint32_t(d.fAbortOnError) << 14;
    s.xonLimit = d.XonLim;
    s.xoffLimit = d.XoffLim;
    s.byteSize = d.ByteSize;
    s.parity = d.Parity;
    s.stopBits = d.StopBits;
    s.xonChar = d.XonChar;
    s.xoffChar = d.XoffChar;
    s.errorChar = d.ErrorChar;
    s.eofChar = d.EofChar;
    s.eventChar = d.EvtChar;
    return s;
}

// The flag word has the layout of the DCB's bit fields; each field is set from its bits.
void PutStateIntoDcb(const SerialLineState& s, DCB& d)
{
    const uint32_t f = s.flags;
    d.BaudRate = s.baudRate;
    d.fBinary = f & 1;
    d.fParity = (f >> 1) & 1;
    d.fOutxCtsFlow = (f >> 2) & 1;
    d.fOutxDsrFlow = (f >> 3) & 1;
    d.fDtrControl = (f >> 4) & 3;
    d.fDsrSensitivity = (f >> 6) & 1;
    d.fTXContinueOnXoff = (f >> 7) & 1;
    d.fOutX = (f >> 8) & 1;
    d.fInX = (f >> 9) & 1;
    d.fErrorChar = (f >> 10) & 1;
    d.fNull = (f >> 11) & 1;
    d.fRtsControl = (f >> 12) & 3;
    d.fAbortOnError = (f >> 14) & 1;
    d.XonLim = s.xonLimit;
    d.XoffLim = s.xoffLimit;
    d.ByteSize = s.byteSize;
    d.Parity = s.parity;
    d.StopBits = s.stopBits;
    d.XonChar = s.xonChar;
    d.XoffChar = s.xoffChar;
    d.ErrorChar = s.errorChar;
    d.EofChar = s.eofChar;
    d.EvtChar = s.eventChar;
}

} // namespace

struct SerialDevice::Native {
    std::shared_ptr<const SerialDriver> calls;
    std::string path;
    HANDLE handle = INVALID_HANDLE_VALUE;
    HANDLE stopEvent = nullptr; // manual reset: Stop
    HANDLE wakeEvent = nullptr; // auto reset: freed queue space, a new event mask, bytes to report again
    std::unique_ptr<IoRecord> wait;  // the overlapped WaitCommEvent
    std::unique_ptr<IoRecord> read;  // the reads of the drain, under the device's mutex
    std::unique_ptr<IoRecord> write; // the writes, under writeMutex_
    bool waitPending = false;        // that wait is outstanding
    bool stranded = false;           // the driver counted bytes that a read did not deliver
    std::shared_ptr<InProcessLine> line; // instead of handle, for an in-process line

    bool Closed() const { return handle == INVALID_HANDLE_VALUE && !line; }
    // The events and I/O records; false when the system has no event left.
    bool CreateEvents()
    {
        stopEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        wakeEvent = CreateEventA(nullptr, FALSE, FALSE, nullptr);
        wait = IoRecord::Make();
        read = IoRecord::Make();
        write = IoRecord::Make();
        return stopEvent && wakeEvent && wait && read && write;
    }
    bool Stopping() const { return WaitForSingleObject(stopEvent, 0) == WAIT_OBJECT_0; }
    // Waits for the operation of record r (started on handle) to end: up to ms, or until
    // Stop when stoppable; then cancels it and waits kCancelMs more. True with *done when it
    // completed; false with *error when it failed or was cancelled. A driver that keeps the
    // operation past the cancel keeps r for good (r becomes null) and *error is
    // ERROR_IO_PENDING.
    bool Finish(std::unique_ptr<IoRecord>& r, DWORD ms, bool stoppable, DWORD* done, DWORD* error)
    {
        HANDLE handles[2] = {r->event, stopEvent};
        if (WaitForMultipleObjects(stoppable ? 2 : 1, handles, FALSE, ms) != WAIT_OBJECT_0) {
            calls->CancelIoEx(handle, &r->io);
            if (WaitForSingleObject(r->event, kCancelMs) != WAIT_OBJECT_0) {
                (void)r.release(); // the driver may still write into it
                *error = ERROR_IO_PENDING;
                return false;
            }
        }
        if (calls->GetOverlappedResult(handle, &r->io, done, FALSE))
            return true;
        *error = GetLastError();
        return false;
    }
};

SerialDevice::SerialDevice() : native_(std::make_unique<Native>()) {}

std::string SerialDevice::PathForNumber(int number)
{
    return "\\\\.\\COM" + std::to_string(number);
}

std::shared_ptr<const SerialDriver> SerialDriver::System()
{
    static const auto calls = std::make_shared<const SerialDriver>(SerialDriver{
        ::CreateFileA, ::CloseHandle, ::GetCommState, ::SetCommState, ::GetCommProperties, ::SetupComm,
        ::SetCommTimeouts, ::SetCommMask, ::WaitCommEvent, ::ClearCommError, ::ReadFile, ::WriteFile,
        ::GetOverlappedResult, ::CancelIoEx, ::PurgeComm, ::EscapeCommFunction});
    return calls;
}

std::unique_ptr<SerialDevice> SerialDevice::Open(const std::string& path, int* error)
{
    return Open(path, error, SerialDriver::System());
}

std::unique_ptr<SerialDevice> SerialDevice::Open(const std::string& path, int* error,
                                                 std::shared_ptr<const SerialDriver> driver)
{
    if (InProcessLine::IsLinePath(path))
        return OpenLine(path, error);
    auto fail = [&](int err) -> std::unique_ptr<SerialDevice> {
        if (error)
            *error = err;
        return nullptr;
    };
    // "COM12" as a person writes it is a file name for COM1 to COM9 only: it opens as the
    // device \\.\COM12.
    const int comNumber = ComPortNumber(path);
    const std::string device = comNumber >= 0 ? PathForNumber(comNumber) : path;
    std::unique_ptr<SerialDevice> dev(new SerialDevice);
    Native& n = *dev->native_;
    n.calls = std::move(driver);
    n.path = device;
    if (!n.CreateEvents())
        return fail(ENOMEM);
    HANDLE h = n.calls->CreateFileA(device.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_OVERLAPPED, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return fail(ErrnoFromWin32(GetLastError()));
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!n.calls->GetCommState(h, &dcb)) {
        const DWORD e = GetLastError();
        n.calls->CloseHandle(h);
        return fail(ErrnoFromWin32(e) == ENODEV ? ENODEV : ENOTTY); // unplugged, or no serial device
    }
    // Reads take what the driver holds and return at once; the reader drains only what
    // ClearCommError counted. Writes are timed by the device itself (Write). Without these
    // a read would wait for its whole count.
    COMMTIMEOUTS timeouts{};
    timeouts.ReadIntervalTimeout = MAXDWORD;
    if (!n.calls->SetCommTimeouts(h, &timeouts)) {
        const DWORD e = GetLastError();
        n.calls->CloseHandle(h);
        return fail(DeviceGone(e) ? ENODEV : EIO);
    }
    // The receive queue is filled from every received byte, whatever the caller selects.
    if (!n.calls->SetCommMask(h, EV_RXCHAR)) {
        const DWORD e = GetLastError();
        n.calls->CloseHandle(h);
        return fail(DeviceGone(e) ? ENODEV : EIO);
    }
    n.handle = h;
    dev->state_ = StateFromDcb(dcb);
    if (error)
        *error = 0;
    return dev;
}

std::unique_ptr<SerialDevice> SerialDevice::OpenLine(const std::string& path, int* error)
{
    std::shared_ptr<InProcessLine> line = InProcessLine::Find(path);
    if (!line) {
        if (error)
            *error = ENOENT;
        return nullptr;
    }
    std::unique_ptr<SerialDevice> dev(new SerialDevice);
    Native& n = *dev->native_;
    if (!n.CreateEvents()) {
        if (error)
            *error = ENOMEM;
        return nullptr;
    }
    if (!line->Attach([wake = n.wakeEvent] { SetEvent(wake); })) {
        if (error)
            *error = EBUSY;
        return nullptr;
    }
    n.line = std::move(line);
    if (error)
        *error = 0;
    return dev;
}

SerialDevice::~SerialDevice()
{
    CloseHandle();
    for (HANDLE* e : {&native_->stopEvent, &native_->wakeEvent}) {
        if (*e)
            ::CloseHandle(*e);
        *e = nullptr;
    }
}

void SerialDevice::CloseHandle()
{
    std::lock_guard writing(writeMutex_);
    std::lock_guard lock(mutex_);
    Native& n = *native_;
    if (n.line) {
        n.line->Detach();
        n.line.reset();
        return;
    }
    if (n.handle == INVALID_HANDLE_VALUE)
        return;
    if (n.waitPending) {
        // The driver writes into the wait's record until the wait has ended: end it first,
        // for a bounded time; a driver that keeps it (after a surprise removal) keeps the
        // record, and the handle is closed all the same.
        n.calls->SetCommMask(n.handle, 0);
        n.calls->CancelIoEx(n.handle, &n.wait->io);
        if (WaitForSingleObject(n.wait->event, kCancelMs) != WAIT_OBJECT_0)
            (void)n.wait.release();
        n.waitPending = false;
    }
    n.calls->CloseHandle(n.handle);
    n.handle = INVALID_HANDLE_VALUE;
}

bool SerialDevice::GetState(SerialLineState& state)
{
    std::lock_guard lock(mutex_);
    if (native_->Closed())
        return false;
    state = state_;
    return true;
}

bool SerialDevice::SetState(const SerialLineState& s)
{
    std::lock_guard lock(mutex_);
    Native& n = *native_;
    HANDLE h = n.handle;
    if (n.Closed() || s.baudRate == 0 || s.byteSize < 5 || s.byteSize > 8 || s.parity > 4 || s.stopBits > 2)
        return false;
    if (n.line) {
        state_ = s; // a line has no baud rate or modem lines to set
        return true;
    }
    auto refuse = [&](DWORD e) {
        if (DeviceGone(e))
            lost_ = true;
        // Named as its users know it: COM5, not the device \\.\COM5.
        const std::string name = n.path.rfind("\\\\.\\", 0) == 0 ? n.path.substr(4) : n.path;
        stateRefusal_ = "The driver of port '" + name + "' refused the line settings (" +
                        std::to_string(s.baudRate) + " baud, " + std::to_string(s.byteSize) +
                        " data bits): " + SystemText(e);
        return false;
    };
    DCB reported{};
    reported.DCBlength = sizeof reported;
    if (!n.calls->GetCommState(h, &reported))
        return refuse(GetLastError());
    DCB dcb = reported;
    PutStateIntoDcb(s, dcb);
    SerialLineState taken = s;
    if (!n.calls->SetCommState(h, &dcb)) {
        const DWORD e = GetLastError();
        if (DeviceGone(e))
            return refuse(e);
        // Once more as the driver will take it: drivers refuse XON and XOFF limits beyond the
        // buffer they really have (the queue sizes are only advice), even with flow control
        // off, and equal XON and XOFF characters, which another program may have left.
        dcb.XonLim = std::min(dcb.XonLim, reported.XonLim);
        dcb.XoffLim = std::min(dcb.XoffLim, reported.XoffLim);
        COMMPROP props{};
        props.wPacketLength = sizeof props;
        if (n.calls->GetCommProperties(h, &props) && props.dwCurrentRxQueue > 0) {
            dcb.XonLim = WORD(std::min<DWORD>(dcb.XonLim, props.dwCurrentRxQueue / 2));
            dcb.XoffLim = WORD(std::min<DWORD>(dcb.XoffLim, props.dwCurrentRxQueue / 4));
        }
        if (dcb.XonChar == dcb.XoffChar) {
            dcb.XonChar = 0x11;
            dcb.XoffChar = 0x13;
        }
        if (!n.calls->SetCommState(h, &dcb))
            return refuse(GetLastError());
        taken.xonLimit = dcb.XonLim;
        taken.xoffLimit = dcb.XoffLim;
        taken.xonChar = dcb.XonChar;
        taken.xoffChar = dcb.XoffChar;
    }
    stateRefusal_.clear();
    // The lines follow the DCB already; set them once more as the component asks, where
    // the DCB leaves them to the program (not under handshake or toggle). A driver without
    // modem lines refuses, which changes nothing; one whose device has gone is lost.
    auto line = [&](DWORD function) {
        if (!n.calls->EscapeCommFunction(h, function) && DeviceGone(GetLastError()))
            lost_ = true;
    };
    const uint32_t dtr = s.flags & SerialFlag::DtrMask;
    if (dtr != SerialFlag::DtrHandshake)
        line(dtr != 0 ? SETDTR : CLRDTR);
    const uint32_t rts = s.flags & SerialFlag::RtsMask;
    if (rts != SerialFlag::RtsHandshake && rts != SerialFlag::RtsToggle)
        line(rts != 0 ? SETRTS : CLRRTS);
    state_ = taken;
    return true;
}

bool SerialDevice::OpenLocked() const
{
    return !native_->Closed();
}

void SerialDevice::SetDriverQueuesLocked(uint32_t rx, uint32_t tx)
{
    // Only advice to the driver: SetState copes with a driver that keeps a smaller buffer.
    if (!native_->line && !native_->calls->SetupComm(native_->handle, rx, tx) && DeviceGone(GetLastError()))
        lost_ = true;
}

void SerialDevice::SelectDriverEventsLocked(uint32_t mask)
{
    // A pending wait ends with this (no events) and is started anew with the new mask.
    if (!native_->line
        && !native_->calls->SetCommMask(native_->handle, EV_RXCHAR | (mask & kSerialEvTxEmpty ? EV_TXEMPTY : 0))
        && DeviceGone(GetLastError()))
        lost_ = true;
}

void SerialDevice::WakeLocked()
{
    if (native_->wakeEvent)
        SetEvent(native_->wakeEvent);
}

void SerialDevice::Stop()
{
    // Signalled before the lock is taken, so that a reader busy with the driver under it
    // hears the stop at once.
    if (native_->stopEvent)
        SetEvent(native_->stopEvent);
    std::lock_guard lock(mutex_);
    stop_ = true;
}

void SerialDevice::DrainLocked(bool hungUp)
{
    Native& n = *native_;
    if (hungUp)
        lost_ = true;
    if (n.line) {
        uint8_t chunk[4096];
        while (!lost_ && queue_.size() < capacity_) {
            const size_t got = n.line->TakeFromDevice(chunk, std::min(sizeof chunk, capacity_ - queue_.size()));
            if (got == 0)
                break;
            queue_.insert(queue_.end(), chunk, chunk + got);
            newBytes_ = true;
        }
        if (n.line->Gone())
            lost_ = true; // the simulated analyser has gone, and everything it sent is queued
        return;
    }
    n.stranded = false;
    while (!lost_ && queue_.size() < capacity_) {
        DWORD errors = 0;
        COMSTAT status{};
        if (!n.calls->ClearCommError(n.handle, &errors, &status)) {
            lost_ = true; // the driver has no device any more (unplugged)
            return;
        }
        const DWORD want = DWORD(std::min<size_t>({status.cbInQue, capacity_ - queue_.size(), kChunk}));
        if (want == 0)
            return;
        if (!n.read && !(n.read = IoRecord::Make()))
            return; // no event to read with: looked at again shortly
        IoRecord& r = *n.read;
        r.Reset();
        DWORD got = 0;
        DWORD error = 0;
        bool ok = n.calls->ReadFile(n.handle, r.data, want, &got, &r.io);
        if (!ok) {
            error = GetLastError();
            // Given a bounded time, and ended by Stop: never a wait without end under the lock.
            if (error == ERROR_IO_PENDING)
                ok = n.Finish(n.read, kReadMs, true, &got, &error);
        }
        if (!ok) {
            // An aborted read (a purge, or abort-on-error after a line error, which the next
            // ClearCommError clears) delivered nothing; a read the driver neither ends nor
            // gives up, or any other failure, means the device is gone.
            if (error == ERROR_OPERATION_ABORTED)
                n.stranded = true;
            else
                lost_ = true;
            return;
        }
        if (got == 0) {
            n.stranded = true; // counted but not delivered: looked at again shortly
            return;
        }
        queue_.insert(queue_.end(), n.read->data, n.read->data + got);
        newBytes_ = true;
    }
}

SerialDevice::WaitResult SerialDevice::WaitEvent(uint32_t& events)
{
    events = 0;
    bool poll = false; // the driver ended the last wait without waiting
    for (;;) {
        Native& n = *native_;
        bool soon;
        HANDLE waitEnded = nullptr; // the pending wait's event, taken under the lock
        {
            std::lock_guard lock(mutex_);
            if (stop_ || n.Stopping())
                return WaitResult::Stopped;
            if (n.Closed())
                return WaitResult::Lost;
            if (queue_.size() < capacity_)
                DrainLocked(false);
            if (n.Stopping())
                return WaitResult::Stopped; // come while the drain waited for the driver
            if (txWatch_ && (eventMask_ & kSerialEvTxEmpty)) {
                COMSTAT status{};
                DWORD errors = 0;
                // A line takes every byte at once: nothing is ever left to send.
                if (n.line || (n.calls->ClearCommError(n.handle, &errors, &status) && status.cbOutQue == 0)) {
                    txWatch_ = false;
                    events |= kSerialEvTxEmpty;
                }
            }
            if (const std::optional<WaitResult> result = ResultLocked(events))
                return *result;
            soon = poll || n.stranded || (txWatch_ && (eventMask_ & kSerialEvTxEmpty));
            // A full queue takes nothing: only a stop or freed space is waited for.
            if (!n.line && queue_.size() < capacity_ && !n.waitPending && !poll) {
                if (!n.wait && !(n.wait = IoRecord::Make())) {
                    poll = true; // no event to wait with: looked at again shortly
                    continue;
                }
                n.wait->Reset();
                if (n.calls->WaitCommEvent(n.handle, &n.wait->events, &n.wait->io))
                    continue; // what happened is looked at above; an empty transmit queue by Write's watch
                const DWORD error = GetLastError();
                if (error == ERROR_IO_PENDING) {
                    // Bytes that came since the look above raise no event on a driver that
                    // only reports arrivals during a wait: look once more now it waits.
                    n.waitPending = true;
                    continue;
                }
                // The driver cannot wait (Wine answers so): it is looked at shortly instead.
                if (DeviceGone(error))
                    lost_ = true;
                else
                    poll = true;
                continue;
            }
            if (n.waitPending)
                waitEnded = n.wait->event;
        }
        HANDLE handles[3] = {n.stopEvent, n.wakeEvent, waitEnded};
        const DWORD count = waitEnded ? 3 : 2;
        const DWORD r = WaitForMultipleObjects(count, handles, FALSE, soon ? kPollMs : kHealthMs);
        poll = false;
        if (r == WAIT_OBJECT_0 + 2) {
            std::lock_guard lock(mutex_);
            if (!n.waitPending || n.handle == INVALID_HANDLE_VALUE)
                continue;
            n.waitPending = false;
            DWORD ignored = 0;
            // A wait that ended without events or cancelled (a new mask, a driver that cannot
            // wait): the port is looked at again shortly. One that failed as the device went
            // is its loss.
            if (!n.calls->GetOverlappedResult(n.handle, &n.wait->io, &ignored, FALSE)) {
                if (DeviceGone(GetLastError()))
                    lost_ = true;
                else
                    poll = true;
            }
        } else if (r == WAIT_FAILED) {
            std::lock_guard lock(mutex_);
            lost_ = true;
        }
        // On a timeout the look above runs ClearCommError: a device gone shows there.
    }
}

int32_t SerialDevice::Write(const void* buffer, int32_t count)
{
    // Bytes beyond what the driver takes at once wait for room rather than being dropped;
    // a line that takes nothing for kWriteStallMs (flow control holding it) ends the write.
    // The bytes are copied into the write's record: a driver that keeps a write past its
    // cancel may still read them.
    std::lock_guard writing(writeMutex_);
    Native& n = *native_;
    HANDLE h;
    uint32_t baud;
    {
        std::lock_guard lock(mutex_);
        if (n.line && count > 0) {
            n.line->SendToDevice(static_cast<const uint8_t*>(buffer), size_t(count));
            txWatch_ = true;
            if (eventMask_ & kSerialEvTxEmpty)
                WakeLocked();
            return count;
        }
        h = n.handle;
        baud = std::max<uint32_t>(state_.baudRate, 50);
    }
    if (h == INVALID_HANDLE_VALUE || count <= 0)
        return 0;
    const auto* bytes = static_cast<const uint8_t*>(buffer);
    int32_t written = 0;
    while (written < count) {
        if (!n.write && !(n.write = IoRecord::Make()))
            break;
        IoRecord& r = *n.write;
        r.Reset();
        const DWORD chunk = std::min<DWORD>(DWORD(count - written), kChunk);
        std::memcpy(r.data, bytes + written, chunk);
        const DWORD lineMs = DWORD(uint64_t(chunk) * 10 * 1000 / baud);
        DWORD done = 0;
        bool ok = n.calls->WriteFile(h, r.data, chunk, &done, &r.io);
        DWORD error = ok ? 0 : GetLastError();
        if (!ok && error == ERROR_IO_PENDING)
            ok = n.Finish(n.write, kWriteStallMs + lineMs, false, &done, &error);
        if (!ok) {
            // A stall ended by the cancel keeps what the driver took. A driver that keeps the
            // write past the cancel, or fails it as its device goes, has lost the device.
            if (error == ERROR_IO_PENDING || DeviceGone(error)) {
                std::lock_guard lock(mutex_);
                lost_ = true;
                WakeLocked();
            }
            written += int32_t(done);
            break;
        }
        written += int32_t(done);
        if (done < chunk)
            break;
        std::lock_guard lock(mutex_);
        txWatch_ = true;
        if (eventMask_ & kSerialEvTxEmpty)
            WakeLocked();
    }
    return written;
}

bool SerialDevice::Purge(uint32_t flags)
{
    std::lock_guard lock(mutex_);
    if (native_->Closed())
        return false;
    // The component's purge flags are the driver's PURGE_ values.
    if (!native_->line
        && !native_->calls->PurgeComm(native_->handle, flags & (PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR))
        && DeviceGone(GetLastError()))
        lost_ = true;
    if (flags & (kSerialPurgeRxAbort | kSerialPurgeRxClear)) {
        if (native_->line)
            native_->line->PurgeFromDevice();
        const bool wasFull = queue_.size() >= capacity_;
        queue_.clear();
        newBytes_ = false;
        if (wasFull)
            WakeLocked();
    }
    return true;
}

} // namespace kestrin
