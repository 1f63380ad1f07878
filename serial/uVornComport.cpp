#include "uVornComport.h"

#include "platform/PortTable.h"
#include "platform/SerialDevice.h"
#include "platform/Synchronize.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

using kestrin::SerialDevice;
using kestrin::SerialLineState;

namespace {

// The device's own path ("\\.\COM5"); the messages for people shorten it to "COM5".
std::string CannotOpen(const std::string& path)
{
    return "Cannot open port '" + path + "'";
}

} // namespace

// ---- TComponent

TComponent::TComponent(TComponent* owner) : owner_(owner)
{
    if (owner_)
        owner_->owned_.push_back(this);
}

TComponent::~TComponent()
{
    while (!owned_.empty())
        delete owned_.back(); // its destructor takes it off the list
    if (owner_) {
        auto& list = owner_->owned_;
        list.erase(std::remove(list.begin(), list.end(), this), list.end());
    }
}

// ---- TFlowCtrl

TFlowCtrl::TFlowCtrl(TVornComPort* ownerPort) : ownerPort_(ownerPort) {}

void TFlowCtrl::SetBits(uint32_t bits, bool on)
{
    flags_ = on ? (flags_ | bits) : (flags_ & ~bits);
}

void TFlowCtrl::ApplyFlags()
{
    if (ownerPort_ && ownerPort_->Active())
        ownerPort_->ApplyToDevice([this](SerialLineState& s) { s.flags = flags_; });
}

void TFlowCtrl::SetRxDtrControl(TDtrControl value)
{
    if (value == rxDtrControl_)
        return;
    rxDtrControl_ = value;
    flags_ &= ~kestrin::SerialFlag::DtrMask;
    if (value == dtrEnable)
        flags_ |= kestrin::SerialFlag::DtrOn;
    else if (value == dtrHandshake)
        flags_ |= kestrin::SerialFlag::DtrHandshake;
    ApplyFlags();
}

void TFlowCtrl::SetRxRtsControl(TRtsControl value)
{
    if (value == rxRtsControl_)
        return;
    rxRtsControl_ = value;
    flags_ &= ~kestrin::SerialFlag::RtsMask;
    if (value == rtsEnable)
        flags_ |= kestrin::SerialFlag::RtsOn;
    else if (value == rtsHandshake)
        flags_ |= kestrin::SerialFlag::RtsHandshake;
    else if (value == rtsToggle)
        flags_ |= kestrin::SerialFlag::RtsToggle;
    ApplyFlags();
}

void TFlowCtrl::SetRxDsrSensivity(bool value)
{
    if (value == rxDsrSensivity_)
        return;
    rxDsrSensivity_ = value;
    SetBits(0x0040, value);
    ApplyFlags();
}

void TFlowCtrl::SetTxContinueXoff(bool value)
{
    if (value == txContinueXoff_)
        return;
    txContinueXoff_ = value;
    SetBits(0x0080, value);
    ApplyFlags();
}

void TFlowCtrl::SetTxCtsFlow(bool value)
{
    if (value == txCtsFlow_)
        return;
    txCtsFlow_ = value;
    SetBits(kestrin::SerialFlag::CtsOutFlow, value);
    ApplyFlags();
}

void TFlowCtrl::SetTxDsrFlow(bool value)
{
    if (value == txDsrFlow_)
        return;
    txDsrFlow_ = value;
    SetBits(kestrin::SerialFlag::DsrOutFlow, value);
    ApplyFlags();
}

void TFlowCtrl::SetXonXoff(bool value)
{
    if (value == xonXoff_)
        return;
    xonXoff_ = value;
    SetBits(kestrin::SerialFlag::XonXoffOut | kestrin::SerialFlag::XonXoffIn, value);
    ApplyFlags();
}

// ---- TVornCommBuffer

void TVornCommBuffer::Grow(uint32_t count)
{
    std::unique_ptr<uint8_t[]> bigger(new uint8_t[capacity_ + count]);
    if (capacity_ > 0)
        std::memcpy(bigger.get(), data_.get(), capacity_);
    data_ = std::move(bigger);
    capacity_ += count;
}

// ---- TVornCommThread

TVornCommThread::TVornCommThread(TVornComPort* ownerPort, std::unique_ptr<SerialDevice> device,
                                 TVornCommBuffer* lineBuffer)
    : ownerPort_(ownerPort), device_(std::move(device)), lineBuffer_(lineBuffer)
{
}

TVornCommThread::~TVornCommThread()
{
    Stop();
    WaitFor();
}

void TVornCommThread::Stop()
{
    device_->Stop();
}

void TVornCommThread::Execute()
{
    struct CloseOnExit {
        SerialDevice* device;
        ~CloseOnExit() { device->CloseHandle(); }
    } closeOnExit{device_.get()};

    while (!Terminated()) {
        uint32_t events = 0;
        switch (device_->WaitEvent(events)) {
        case SerialDevice::WaitResult::Stopped:
            Terminate();
            break;
        case SerialDevice::WaitResult::Lost:
            lost_ = true;
            Terminate();
            break;
        case SerialDevice::WaitResult::Event:
            eventMask_ = events;
            Synchronize([this] { CommEvent(); });
            break;
        }
    }
}

void TVornCommThread::Detach(std::unique_ptr<TVornCommBuffer> lineBuffer, std::shared_ptr<void> keepAlive)
{
    ownedLineBuffer_ = std::move(lineBuffer);
    ownedKeepAlive_ = std::move(keepAlive);
    detached_ = true;
    SetFreeOnTerminate(true);
    Stop();
}

void TVornCommThread::CommEvent()
{
    struct Running {
        bool& flag;
        explicit Running(bool& f) : flag(f) { flag = true; }
        ~Running() { flag = false; }
    } running(inCommEvent_);
    // After a handler call the port may have been closed, even freed: detached_ tells.
    TVornComPort* port = ownerPort_;
    const uint32_t mask = eventMask_;
    if (mask & kestrin::kSerialEvRxChar) {
        if (!port->onDataAvailable_) {
            // Nobody takes the bytes: read and drop them, 255 at a time.
            std::lock_guard lock(device_->Mutex());
            uint8_t piece[255];
            while (device_->ReadLocked(piece, sizeof piece) > 0) {
            }
            inQueue_ = 0;
        } else if (port->readLines_) {
            const uint32_t available = device_->ClearError();
            if (available > 0)
                ScanLines(available);
        } else {
            uint32_t queued;
            {
                std::lock_guard lock(device_->Mutex());
                queued = device_->QueuedLocked();
                inQueue_ = queued;
            }
            if (queued > 0)
                port->onDataAvailable_(port);
        }
        if (detached_)
            return;
    }
    if ((mask & kestrin::kSerialEvTxEmpty) && port->onDataSent_)
        port->onDataSent_(port);
}

void TVornCommThread::ScanLines(uint32_t available)
{
    TVornComPort* port = ownerPort_;
    TVornCommBuffer& b = *lineBuffer_;
    std::unique_lock lock(lineMutex_);
    if (int64_t(b.Capacity()) - b.WritePos < int64_t(available))
        b.Grow(available);
    b.WritePos += device_->Read(b.Data() + b.WritePos, int32_t(available));

    const std::string lineEnd = port->lineEnd_;
    const int32_t length = int32_t(lineEnd.size());
    // An empty line end makes every byte end a line.
    const int32_t step = std::max<int32_t>(length, 1);
    while (b.WritePos - b.ScanPos >= step) {
        if (length == 0 || std::memcmp(b.Data() + b.ScanPos, lineEnd.data(), size_t(length)) == 0) {
            b.ScanPos += step;
            inQueue_ = uint32_t(b.ScanPos - b.ReadPos);
            lock.unlock();
            port->onDataAvailable_(port);
            if (detached_)
                return;
            lock.lock();
            if (!port->readLines_ || b.ReadPos == b.WritePos)
                break;
        } else {
            ++b.ScanPos;
        }
    }
}

// ---- TVornComPort

TVornComPort::TVornComPort(TComponent* owner)
    : TComponent(owner), flowCtrl_(std::make_unique<TFlowCtrl>(this))
{
}

std::function<void()> TVornComPort::BeforeReaderStart;

TVornComPort::~TVornComPort()
{
    if (active_) {
        try {
            Close();
        } catch (...) {
            // a handler's failure while closing must not escape a destructor; the port is closed
        }
    }
}

void TVornComPort::ApplyToDevice(const std::function<void(SerialLineState&)>& change)
{
    if (!commThread_)
        return;
    SerialDevice* device = commThread_->Device();
    SerialLineState state;
    if (!device->GetState(state))
        return;
    change(state);
    device->SetState(state);
}

void TVornComPort::SetBaudrate(int32_t value)
{
    if (value == baudrate_)
        return;
    baudrate_ = value;
    ApplyToDevice([value](SerialLineState& s) { s.baudRate = uint32_t(value); });
}

void TVornComPort::SetParity(TParity value)
{
    if (value == parity_)
        return;
    parity_ = value;
    ApplyToDevice([value](SerialLineState& s) { s.parity = value; });
}

void TVornComPort::SetStopBits(TStopBits value)
{
    if (value == stopBits_)
        return;
    stopBits_ = value;
    ApplyToDevice([value](SerialLineState& s) { s.stopBits = value; });
}

void TVornComPort::SetRxBuffer(uint32_t value)
{
    if (value == rxBuffer_)
        return;
    rxBuffer_ = value;
    xoffLimit_ = (value / 4) * 3;
    xonLimit_ = value / 2;
    ApplyToDevice([this](SerialLineState& s) {
        s.xoffLimit = uint16_t(xoffLimit_);
        s.xonLimit = uint16_t(xonLimit_);
    });
}

void TVornComPort::SetLineMode(bool value)
{
    if (value == lineMode_)
        return;
    lineMode_ = value;
    TVornCommThread* thread = commThread_;
    if (!thread) {
        readLines_ = value;
        return;
    }
    if (value) {
        std::lock_guard lock(thread->lineMutex_);
        readLines_ = true;
        thread->inQueue_ = 0; // counts complete lines from now on
        thread->Device()->NotifyQueued(); // bytes already received are scanned for lines
        return;
    }
    // Complete lines still buffered go to the handler first, read from the line buffer.
    if (thread->inQueue_ > 0 && onDataAvailable_)
        onDataAvailable_(this);
    // What is left (unread lines, a partial line) goes back in front of the receive
    // queue, so that plain reads get it and nothing is lost.
    SerialDevice* device = thread->Device();
    std::scoped_lock lock(thread->lineMutex_, device->Mutex());
    TVornCommBuffer& b = *lineBuffer_;
    if (b.WritePos > b.ReadPos)
        device->UnreadLocked(b.Data() + b.ReadPos, size_t(b.WritePos - b.ReadPos));
    b.ReadPos = b.WritePos = b.ScanPos = 0;
    readLines_ = false;
    thread->inQueue_ = device->QueuedLocked();
}

void TVornComPort::SetActive(bool value)
{
    if (value == active_)
        return;
    if (value)
        Open();
    else
        Close();
    active_ = value;
}

bool TVornComPort::Lost() const
{
    return commThread_ && commThread_->Lost();
}

void TVornComPort::Open()
{
    // The device: the port table's entry for the number, else the platform's own device
    // for it (COMn); a number that stands for neither is named by the number itself.
    const auto entry = kestrin::FindPort(port_);
    std::string path = entry ? entry->path : SerialDevice::PathForNumber(port_);
    const bool known = entry || !path.empty();
    if (path.empty())
        path = std::to_string(port_);
    if (!known)
        throw EVornComPort(CannotOpen(path), ENOENT);

    std::shared_ptr<void> keepAlive;
    if (entry && entry->openVirtual) {
        std::string virtualPath;
        try {
            keepAlive = entry->openVirtual(virtualOptions_, virtualPath);
        } catch (...) {
            keepAlive.reset();
        }
        if (!virtualPath.empty())
            path = virtualPath;
        if (!keepAlive)
            throw EVornComPort(CannotOpen(path), ENODEV);
    }

    int error = 0;
    std::unique_ptr<SerialDevice> device = SerialDevice::Open(path, &error);
    if (!device)
        throw EVornComPort(CannotOpen(path), error);

    SerialLineState state;
    device->GetState(state);
    state.baudRate = uint32_t(baudrate_);
    state.xoffLimit = uint16_t(xoffLimit_);
    state.xonLimit = uint16_t(xonLimit_);
    state.byteSize = byteSize_;
    state.parity = parity_;
    state.stopBits = stopBits_;
    state.flags = flowCtrl_->Flags();
    device->SetQueueSizes(rxBuffer_, txBuffer_);
    device->SetState(state);
    device->SetEventMask(kestrin::kSerialEvRxChar | kestrin::kSerialEvTxEmpty);

    lineBuffer_ = std::make_unique<TVornCommBuffer>();
    readLines_ = lineMode_.load();
    commThread_ = new TVornCommThread(this, std::move(device), lineBuffer_.get());
    try {
        if (BeforeReaderStart)
            BeforeReaderStart();
        commThread_->Resume();
    } catch (...) {
        // The reader never ran: freeing it closes the device, and the port stays closed
        // with nothing left behind (the in-process device goes with keepAlive).
        delete commThread_;
        commThread_ = nullptr;
        lineBuffer_.reset();
        throw;
    }
    virtualDevice_ = std::move(keepAlive);
}

void TVornComPort::Close()
{
    TVornCommThread* thread = commThread_;
    if (!thread || closing_)
        return; // a handler run while closing closes again: this Close finishes the job
    struct Closing {
        bool& flag;
        explicit Closing(bool& f) : flag(f) { flag = true; }
        ~Closing() { flag = false; }
    } closing(closing_);
    std::exception_ptr handlerError;
    if (readLines_ && thread->InQueue() > 0 && onDataAvailable_) {
        try {
            onDataAvailable_(this);
        } catch (...) {
            handlerError = std::current_exception();
        }
    }
    if (kestrin::IsUiThread() && thread->inCommEvent_) {
        // Closed by a handler: the reader waits for this very notification to return.
        commThread_ = nullptr;
        thread->Detach(std::move(lineBuffer_), std::move(virtualDevice_));
    } else {
        thread->Stop();
        thread->WaitFor(); // on the UI thread this keeps running the reader's pending CommEvent
        commThread_ = nullptr;
        delete thread;
        lineBuffer_.reset();
        virtualDevice_.reset();
    }
    if (handlerError)
        std::rethrow_exception(handlerError);
}

uint32_t TVornComPort::InQueue() const
{
    return commThread_ ? commThread_->InQueue() : 0;
}

int32_t TVornComPort::Read(void* buffer, int32_t count)
{
    TVornCommThread* thread = commThread_;
    if (count <= 0 || !thread)
        return 0;
    if (readLines_) {
        std::lock_guard lock(thread->lineMutex_);
        TVornCommBuffer& b = *lineBuffer_;
        const uint32_t n = std::min(uint32_t(count), thread->inQueue_.load());
        if (n > 0)
            std::memcpy(buffer, b.Data() + b.ReadPos, n);
        b.ReadPos += int32_t(n);
        thread->inQueue_ -= n;
        if (b.ReadPos >= b.WritePos)
            b.ReadPos = b.WritePos = b.ScanPos = 0;
        return int32_t(n);
    }
    SerialDevice* device = thread->Device();
    std::lock_guard lock(device->Mutex());
    const uint32_t n = std::min(uint32_t(count), thread->inQueue_.load());
    const int32_t got = device->ReadLocked(buffer, int32_t(n));
    thread->inQueue_ -= std::min(uint32_t(got), thread->inQueue_.load());
    return got;
}

int32_t TVornComPort::Write(const void* buffer, int32_t count)
{
    if (!active_)
        throw EVornComPort("Port not open");
    return commThread_->Device()->Write(buffer, count);
}

int32_t TVornComPort::WriteString(const std::string& text)
{
    return Write(text.data(), int32_t(text.size()));
}

void TVornComPort::PurgeRx()
{
    TVornCommThread* thread = commThread_;
    if (!thread)
        return;
    SerialDevice* device = thread->Device();
    device->Purge(kestrin::kSerialPurgeRxAbort | kestrin::kSerialPurgeRxClear);
    if (!readLines_) {
        // The count must never promise bytes the queue no longer holds.
        std::lock_guard lock(device->Mutex());
        thread->inQueue_ = std::min(thread->inQueue_.load(), device->QueuedLocked());
    }
}

void TVornComPort::PurgeTx()
{
    if (commThread_)
        commThread_->Device()->Purge(kestrin::kSerialPurgeTxAbort | kestrin::kSerialPurgeTxClear);
}
