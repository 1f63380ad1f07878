// The serial device on Windows: a COM port opened for overlapped I/O. The reader waits
// with WaitCommEvent on an overlapped event next to the stop event, and drains what the
// driver holds (ClearCommError gives the count) into the device's own receive queue.
// A path of an in-process line (the simulated analyser) opens that line instead: its bytes
// go straight into the receive queue, and its arrivals wake the reader as a stop would.
#include "SerialDevice.h"

#include <windows.h>

#include "platform/InProcessLine.h"
#include "platform/PortList_win.h"

#include <algorithm>
#include <cerrno>

namespace kestrin {
namespace {

// A driver that cannot wait for events (Wine on a pseudo-terminal ends every wait at once
// as cancelled) is looked at this often instead.
constexpr DWORD kPollMs = 20;
// A write gives up when the driver takes no byte for this long.
constexpr DWORD kWriteStallMs = 2000;
constexpr DWORD kWriteChunk = 4096;

int ErrnoFromWin32(DWORD error)
{
    switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
    case ERROR_BAD_PATHNAME:
        return ENOENT;
    case ERROR_ACCESS_DENIED: // what Windows answers for a COM port that another program has open
    case ERROR_SHARING_VIOLATION:
    case ERROR_BUSY:
        return EBUSY;
    default:
        return EIO;
    }
}

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

// Waits for an overlapped operation on h; false (with the error in *error) when it failed.
bool Finish(HANDLE h, OVERLAPPED& io, DWORD& transferred, DWORD* error = nullptr)
{
    if (GetOverlappedResult(h, &io, &transferred, TRUE))
        return true;
    if (error)
        *error = GetLastError();
    return false;
}

} // namespace

struct SerialDevice::Native {
    HANDLE handle = INVALID_HANDLE_VALUE;
    HANDLE stopEvent = nullptr; // manual reset: Stop
    HANDLE wakeEvent = nullptr; // auto reset: freed queue space, a new event mask, bytes to report again
    HANDLE waitEvent = nullptr; // manual reset: the overlapped WaitCommEvent has completed
    OVERLAPPED waitIo{};
    DWORD waitEvents = 0;       // where the driver writes the events of that wait
    bool waitPending = false;   // that wait is outstanding
    std::shared_ptr<InProcessLine> line; // instead of handle, for an in-process line

    bool Closed() const { return handle == INVALID_HANDLE_VALUE && !line; }
    // The three events; false when the system has none left (the destructor frees any made).
    bool CreateEvents()
    {
        stopEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        wakeEvent = CreateEventA(nullptr, FALSE, FALSE, nullptr);
        waitEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        return stopEvent && wakeEvent && waitEvent;
    }
};

SerialDevice::SerialDevice() : native_(std::make_unique<Native>()) {}

std::string SerialDevice::PathForNumber(int number)
{
    return "\\\\.\\COM" + std::to_string(number);
}

std::unique_ptr<SerialDevice> SerialDevice::Open(const std::string& path, int* error)
{
    if (InProcessLine::IsLinePath(path))
        return OpenLine(path, error);
    // "COM12" as a person writes it is a file name for COM1 to COM9 only: it opens as the
    // device \\.\COM12.
    const int comNumber = ComPortNumber(path);
    const std::string device = comNumber >= 0 ? PathForNumber(comNumber) : path;
    HANDLE h = CreateFileA(device.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                           FILE_FLAG_OVERLAPPED, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        if (error)
            *error = ErrnoFromWin32(GetLastError());
        return nullptr;
    }
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!GetCommState(h, &dcb)) {
        ::CloseHandle(h);
        if (error)
            *error = ENOTTY;
        return nullptr;
    }
    std::unique_ptr<SerialDevice> dev(new SerialDevice);
    Native& n = *dev->native_;
    if (!n.CreateEvents()) {
        ::CloseHandle(h);
        if (error)
            *error = ENOMEM;
        return nullptr;
    }
    n.handle = h;
    n.waitIo.hEvent = n.waitEvent;
    // Reads take what the driver holds and return at once; the reader drains only what
    // ClearCommError counted. Writes are timed by the device itself (Write).
    COMMTIMEOUTS timeouts{};
    timeouts.ReadIntervalTimeout = MAXDWORD;
    SetCommTimeouts(h, &timeouts);
    // The receive queue is filled from every received byte, whatever the caller selects.
    SetCommMask(h, EV_RXCHAR);
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
    for (HANDLE* e : {&native_->stopEvent, &native_->wakeEvent, &native_->waitEvent}) {
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
        // The driver writes into waitEvents until the wait has ended: end it first.
        DWORD ignored;
        SetCommMask(n.handle, 0);
        CancelIoEx(n.handle, &n.waitIo);
        GetOverlappedResult(n.handle, &n.waitIo, &ignored, TRUE);
        n.waitPending = false;
    }
    ::CloseHandle(n.handle);
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
    HANDLE h = native_->handle;
    if (native_->Closed() || s.baudRate == 0 || s.byteSize < 5 || s.byteSize > 8 || s.parity > 4
        || s.stopBits > 2)
        return false;
    if (native_->line) {
        state_ = s; // a line has no baud rate or modem lines to set
        return true;
    }
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!GetCommState(h, &dcb))
        return false;
    PutStateIntoDcb(s, dcb);
    if (!SetCommState(h, &dcb))
        return false;
    // The lines follow the DCB already; set them once more as the component asks (a
    // driver without modem lines refuses, which changes nothing).
    EscapeCommFunction(h, (s.flags & SerialFlag::DtrMask) != 0 ? SETDTR : CLRDTR);
    const uint32_t rts = s.flags & SerialFlag::RtsMask;
    if (rts != SerialFlag::RtsHandshake && rts != SerialFlag::RtsToggle)
        EscapeCommFunction(h, rts != 0 ? SETRTS : CLRRTS);
    state_ = s;
    return true;
}

bool SerialDevice::OpenLocked() const
{
    return !native_->Closed();
}

void SerialDevice::SetDriverQueuesLocked(uint32_t rx, uint32_t tx)
{
    if (!native_->line)
        SetupComm(native_->handle, rx, tx);
}

void SerialDevice::SelectDriverEventsLocked(uint32_t mask)
{
    // A pending wait ends with this (no events) and is started anew with the new mask.
    if (!native_->line)
        SetCommMask(native_->handle, EV_RXCHAR | (mask & kSerialEvTxEmpty ? EV_TXEMPTY : 0));
}

void SerialDevice::WakeLocked()
{
    if (native_->wakeEvent)
        SetEvent(native_->wakeEvent);
}

void SerialDevice::Stop()
{
    std::lock_guard lock(mutex_);
    stop_ = true;
    if (native_->stopEvent)
        SetEvent(native_->stopEvent);
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
    while (!lost_ && queue_.size() < capacity_) {
        DWORD errors = 0;
        COMSTAT status{};
        if (!ClearCommError(n.handle, &errors, &status)) {
            lost_ = true; // the driver has no device any more (unplugged)
            return;
        }
        const DWORD want = DWORD(std::min<size_t>(status.cbInQue, capacity_ - queue_.size()));
        if (want == 0)
            return;
        uint8_t chunk[4096];
        OVERLAPPED io{};
        io.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        DWORD got = 0;
        bool ok = ReadFile(n.handle, chunk, std::min<DWORD>(want, sizeof chunk), &got, &io)
                  || (GetLastError() == ERROR_IO_PENDING && Finish(n.handle, io, got));
        ::CloseHandle(io.hEvent);
        if (!ok) {
            lost_ = true;
            return;
        }
        if (got == 0)
            return; // counted but not delivered: looked at again with the next event
        queue_.insert(queue_.end(), chunk, chunk + got);
        newBytes_ = true;
    }
}

SerialDevice::WaitResult SerialDevice::WaitEvent(uint32_t& events)
{
    events = 0;
    bool poll = false; // the driver ended the last wait without waiting
    for (;;) {
        Native& n = *native_;
        bool watchTx;
        {
            std::lock_guard lock(mutex_);
            if (stop_)
                return WaitResult::Stopped;
            if (n.Closed())
                return WaitResult::Lost;
            if (queue_.size() < capacity_)
                DrainLocked(false);
            if (txWatch_ && (eventMask_ & kSerialEvTxEmpty)) {
                COMSTAT status{};
                DWORD errors = 0;
                // A line takes every byte at once: nothing is ever left to send.
                if (n.line || (ClearCommError(n.handle, &errors, &status) && status.cbOutQue == 0)) {
                    txWatch_ = false;
                    events |= kSerialEvTxEmpty;
                }
            }
            if (const std::optional<WaitResult> result = ResultLocked(events))
                return *result;
            watchTx = txWatch_ && (eventMask_ & kSerialEvTxEmpty);
            // A full queue takes nothing: only a stop or freed space is waited for.
            if (!n.line && queue_.size() < capacity_ && !n.waitPending && !poll) {
                ResetEvent(n.waitEvent);
                n.waitEvents = 0;
                if (WaitCommEvent(n.handle, &n.waitEvents, &n.waitIo))
                    continue; // what happened is looked at above; an empty transmit queue by Write's watch

                // A wait that cannot start is no loss by itself: the port is looked at
                // again shortly, and a vanished device shows there, as ClearCommError fails.
                if (GetLastError() != ERROR_IO_PENDING) {
                    poll = true;
                    continue;
                }
                n.waitPending = true;
            }
        }
        HANDLE handles[3] = {n.stopEvent, n.wakeEvent, n.waitEvent};
        const DWORD count = n.waitPending ? 3 : 2;
        const DWORD r = WaitForMultipleObjects(count, handles, FALSE, poll || watchTx ? kPollMs : INFINITE);
        poll = false;
        if (r == WAIT_OBJECT_0 + 2) {
            std::lock_guard lock(mutex_);
            if (!n.waitPending || n.handle == INVALID_HANDLE_VALUE)
                continue;
            n.waitPending = false;
            DWORD ignored = 0;
            // A wait that ended without events, cancelled (the driver cannot wait) or
            // failed: the port is looked at again shortly; a vanished device shows there.
            if (!GetOverlappedResult(n.handle, &n.waitIo, &ignored, FALSE))
                poll = true;
        } else if (r == WAIT_FAILED) {
            std::lock_guard lock(mutex_);
            lost_ = true;
        }
    }
}

int32_t SerialDevice::Write(const void* buffer, int32_t count)
{
    // Bytes beyond what the driver takes at once wait for room rather than being dropped;
    // a line that takes nothing for kWriteStallMs (flow control holding it) ends the write.
    std::lock_guard writing(writeMutex_);
    HANDLE h;
    uint32_t baud;
    {
        std::lock_guard lock(mutex_);
        if (native_->line && count > 0) {
            native_->line->SendToDevice(static_cast<const uint8_t*>(buffer), size_t(count));
            txWatch_ = true;
            if (eventMask_ & kSerialEvTxEmpty)
                WakeLocked();
            return count;
        }
        h = native_->handle;
        baud = std::max<uint32_t>(state_.baudRate, 50);
    }
    if (h == INVALID_HANDLE_VALUE || count <= 0)
        return 0;
    const auto* bytes = static_cast<const uint8_t*>(buffer);
    OVERLAPPED io{};
    io.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    int32_t written = 0;
    while (written < count) {
        const DWORD chunk = std::min<DWORD>(DWORD(count - written), kWriteChunk);
        const DWORD lineMs = DWORD(uint64_t(chunk) * 10 * 1000 / baud);
        ResetEvent(io.hEvent);
        DWORD done = 0;
        if (!WriteFile(h, bytes + written, chunk, &done, &io)) {
            if (GetLastError() != ERROR_IO_PENDING)
                break;
            if (WaitForSingleObject(io.hEvent, kWriteStallMs + lineMs) != WAIT_OBJECT_0)
                CancelIoEx(h, &io);
            if (!GetOverlappedResult(h, &io, &done, TRUE) && done == 0)
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
    ::CloseHandle(io.hEvent);
    return written;
}

bool SerialDevice::Purge(uint32_t flags)
{
    std::lock_guard lock(mutex_);
    if (native_->Closed())
        return false;
    // The component's purge flags are the driver's PURGE_ values.
    if (!native_->line)
        PurgeComm(native_->handle, flags & (PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR));
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
