#pragma once
// TVornComPort: a serial port component. Line settings and flow control may be set
// before or while the port is open; Active opens and closes the device; a reader
// thread of its own reports received bytes on the UI thread (plain or line mode).
// Configure, open, write, poll, read and close it on one thread.
#include "platform/PortTable.h"
#include "platform/Thread.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

namespace kestrin {
class SerialDevice;
struct SerialLineState;
}

enum TStopBits : uint8_t { sbOne, sbOne_5, sbTwo };
enum TParity : uint8_t { ptNone, ptOdd, ptEven, ptMark, ptSpace };
enum TDtrControl : uint8_t { dtrDisable, dtrEnable, dtrHandshake };
enum TRtsControl : uint8_t { rtsDisable, rtsEnable, rtsHandshake, rtsToggle };

class TVornComPort;
using TNotifyEvent = std::function<void(TVornComPort* sender)>;

// A component may have an owner, which frees it.
class TComponent {
public:
    explicit TComponent(TComponent* owner = nullptr);
    virtual ~TComponent();
    TComponent(const TComponent&) = delete;
    TComponent& operator=(const TComponent&) = delete;
    TComponent* Owner() const { return owner_; }

private:
    TComponent* owner_;
    std::vector<TComponent*> owned_;
};

// The error of the serial component; SystemError is the errno of a failed open, else 0.
class EVornComPort : public std::runtime_error {
public:
    explicit EVornComPort(const std::string& message, int systemError = 0)
        : std::runtime_error(message), systemError_(systemError) {}
    int SystemError() const { return systemError_; }

private:
    int systemError_;
};

// Flow control of a port, kept as the device's flag word; every change reaches an open port.
class TFlowCtrl {
public:
    explicit TFlowCtrl(TVornComPort* ownerPort);

    uint32_t Flags() const { return flags_; }
    TVornComPort* OwnerPort() const { return ownerPort_; }

    TDtrControl RxDtrControl() const { return rxDtrControl_; }
    void SetRxDtrControl(TDtrControl value);
    TRtsControl RxRtsControl() const { return rxRtsControl_; }
    void SetRxRtsControl(TRtsControl value);
    bool RxDsrSensivity() const { return rxDsrSensivity_; }
    void SetRxDsrSensivity(bool value);
    bool TxContinueXoff() const { return txContinueXoff_; }
    void SetTxContinueXoff(bool value);
    bool TxCtsFlow() const { return txCtsFlow_; }
    void SetTxCtsFlow(bool value);
    bool TxDsrFlow() const { return txDsrFlow_; }
    void SetTxDsrFlow(bool value);
    bool XonXoff() const { return xonXoff_; }
    void SetXonXoff(bool value);

private:
    void SetBits(uint32_t bits, bool on);
    void ApplyFlags();

    uint32_t flags_ = 0x1011;
    TVornComPort* ownerPort_;
    TDtrControl rxDtrControl_ = dtrEnable;
    TRtsControl rxRtsControl_ = rtsEnable;
    bool rxDsrSensivity_ = false;
    bool txContinueXoff_ = false;
    bool txCtsFlow_ = false;
    bool txDsrFlow_ = false;
    bool xonXoff_ = false;
};

// The growing line buffer of line mode. Bytes before ReadPos stay in place until
// everything stored has been read; then all positions return to 0.
class TVornCommBuffer {
public:
    TVornCommBuffer() = default;
    TVornCommBuffer(const TVornCommBuffer&) = delete;
    TVornCommBuffer& operator=(const TVornCommBuffer&) = delete;

    uint8_t* Data() { return data_.get(); }
    uint32_t Capacity() const { return capacity_; }
    // Raises Capacity by count bytes, keeping the contents.
    void Grow(uint32_t count);

    int32_t ReadPos = 0;  // next byte Read hands out
    int32_t WritePos = 0; // one past the last stored byte
    int32_t ScanPos = 0;  // where the search for the next line end goes on

private:
    std::unique_ptr<uint8_t[]> data_;
    uint32_t capacity_ = 0;
};

// The reader thread of an open port: waits for device events and runs CommEvent
// on the UI thread for each one. It owns the device and closes it when it ends;
// it ends on Stop, on the device's loss, or when CommEvent or a handler throws.
class TVornCommThread : public kestrin::TThread {
public:
    TVornCommThread(TVornComPort* ownerPort, std::unique_ptr<kestrin::SerialDevice> device,
                    TVornCommBuffer* lineBuffer);
    ~TVornCommThread() override;

    TVornComPort* OwnerPort() const { return ownerPort_; }
    kestrin::SerialDevice* Device() const { return device_.get(); }
    TVornCommBuffer* LineBuffer() const { return lineBuffer_; }
    // Received bytes available to Read (in line mode: bytes of complete, unread lines).
    uint32_t InQueue() const { return inQueue_; }
    uint32_t EventMask() const { return eventMask_; }
    // The device disappeared while open; the thread has ended or is ending.
    bool Lost() const { return lost_; }
    // Signals the stop event; the thread ends even if it has not started waiting yet.
    void Stop();

protected:
    void Execute() override;

private:
    friend class TVornComPort;
    void CommEvent();
    void ScanLines(uint32_t available);
    // The port closed from inside one of its own notifications: the thread cannot be
    // waited for there, so it takes what must outlive it and frees itself when it ends.
    void Detach(std::unique_ptr<TVornCommBuffer> lineBuffer, std::shared_ptr<void> keepAlive);

    TVornComPort* ownerPort_;
    std::unique_ptr<kestrin::SerialDevice> device_;
    TVornCommBuffer* lineBuffer_;
    std::mutex lineMutex_; // guards lineBuffer_ positions and contents in line mode
    std::atomic<uint32_t> eventMask_{0};
    std::atomic<uint32_t> inQueue_{0};
    std::atomic<bool> lost_{false};
    bool inCommEvent_ = false; // UI thread only, like detached_
    bool detached_ = false;
    std::unique_ptr<TVornCommBuffer> ownedLineBuffer_;
    std::shared_ptr<void> ownedKeepAlive_; // released after the device is closed
};

class TVornComPort : public TComponent {
public:
    explicit TVornComPort(TComponent* owner = nullptr);
    ~TVornComPort() override;

    int32_t Baudrate() const { return baudrate_; }
    void SetBaudrate(int32_t value);
    uint8_t ByteSize() const { return byteSize_; }
    void SetByteSize(uint8_t value) { byteSize_ = value; } // at the next open
    TFlowCtrl* FlowCtrl() const { return flowCtrl_.get(); }
    const std::string& LineEnd() const { return lineEnd_; }
    void SetLineEnd(const std::string& value) { lineEnd_ = value; }
    bool LineMode() const { return lineMode_; }
    void SetLineMode(bool value);
    TParity Parity() const { return parity_; }
    void SetParity(TParity value);
    // The port number: the device the port table gives for it, else COMn where the
    // platform numbers its ports (at the next open).
    int32_t Port() const { return port_; }
    void SetPort(int32_t value) { port_ = value; }
    uint32_t RxBuffer() const { return rxBuffer_; }
    void SetRxBuffer(uint32_t value);
    TStopBits StopBits() const { return stopBits_; }
    void SetStopBits(TStopBits value);
    uint32_t TxBuffer() const { return txBuffer_; }
    void SetTxBuffer(uint32_t value) { txBuffer_ = value; } // at the next open
    const std::string& Version() const { return version_; }
    void SetVersion(const std::string&) {} // fixed; assignments are ignored
    uint32_t XoffLimit() const { return xoffLimit_; }
    uint32_t XonLimit() const { return xonLimit_; }

    const TNotifyEvent& OnDataAvailable() const { return onDataAvailable_; }
    void SetOnDataAvailable(TNotifyEvent handler) { onDataAvailable_ = std::move(handler); }
    const TNotifyEvent& OnDataSent() const { return onDataSent_; }
    void SetOnDataSent(TNotifyEvent handler) { onDataSent_ = std::move(handler); }

    // Handed to an in-process device's factory (the port table's virtual ports) at the next open.
    void SetVirtualDeviceOptions(kestrin::VirtualDeviceOptions value) { virtualOptions_ = value; }

    // Test seam: when set, Open calls it with the device open, where the reader thread is
    // about to start (a start that can fail with std::system_error). Empty in the program.
    static std::function<void()> BeforeReaderStart;

    bool Active() const { return active_; }
    // Opens or closes the port; a failed open raises EVornComPort and leaves Active false.
    void SetActive(bool value);
    // The device disappeared while the port was open (unplugged); stays set until Close.
    bool Lost() const;
    TVornCommThread* CommThread() const { return commThread_; }

    // Received bytes available to Read; 0 when closed.
    uint32_t InQueue() const;
    // Takes up to count received bytes (never more than InQueue); returns how many.
    int32_t Read(void* buffer, int32_t count);
    // Hands the bytes to the device without waiting; returns how many it accepted.
    int32_t Write(const void* buffer, int32_t count);
    int32_t WriteString(const std::string& text);
    void PurgeRx();
    void PurgeTx();

protected:
    void Open();
    void Close();

private:
    friend class TFlowCtrl;
    friend class TVornCommThread;
    void ApplyToDevice(const std::function<void(kestrin::SerialLineState&)>& change);

    std::unique_ptr<TFlowCtrl> flowCtrl_;
    std::atomic<bool> lineMode_{false};
    std::string lineEnd_{"\r\n"};
    int32_t baudrate_ = 9600;
    uint8_t byteSize_ = 8;
    TStopBits stopBits_ = sbOne;
    TParity parity_ = ptNone;
    std::string version_{"1.08"};
    bool active_ = false;
    int32_t port_ = 0;
    uint32_t rxBuffer_ = 8192;
    uint32_t xoffLimit_ = 4096;
    uint32_t xonLimit_ = 6144;
    uint32_t txBuffer_ = 8192;
    TVornCommThread* commThread_ = nullptr;
    TNotifyEvent onDataAvailable_;
    TNotifyEvent onDataSent_;
    std::unique_ptr<TVornCommBuffer> lineBuffer_;  // exists while open
    bool closing_ = false;                         // inside Close
    std::atomic<bool> readLines_{false};           // Read takes from the line buffer
    std::shared_ptr<void> virtualDevice_;          // keeps an in-process device alive while open
    kestrin::VirtualDeviceOptions virtualOptions_;
};
