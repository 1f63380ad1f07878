#pragma once
// A serial device as the serial component sees it: open by path (exclusive), the
// line state as one struct, queue sizes, event selection and an event wait that
// can always be stopped, the queued count, read, write and purge. One implementation
// file per platform: a tty on Linux, a COM port on Windows.
//
// The device keeps its own receive queue of the size set by SetQueueSizes: the
// event wait drains the device into it, and the queued count, Read and the
// receive purge act on it. A full queue stops draining until Read frees space.
#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

namespace kestrin {

struct SerialDriver; // Windows: the COM port calls a device makes (SerialDriver_win.h)

// The line state in the layout the serial component hands over whole.
struct SerialLineState {
    uint32_t baudRate = 9600;
    uint32_t flags = 0x1011; // binary 0x0001, DTR on 0x0010, RTS on 0x1000; see SerialFlag
    uint16_t xonLimit = 0;
    uint16_t xoffLimit = 0;
    uint8_t byteSize = 8;    // 5..8
    uint8_t parity = 0;      // none, odd, even, mark, space
    uint8_t stopBits = 0;    // one, one and a half, two
    char xonChar = 0x11;
    char xoffChar = 0x13;
    char errorChar = 0;
    char eofChar = 0;
    char eventChar = 0;
};

namespace SerialFlag {
constexpr uint32_t Binary = 0x0001;
constexpr uint32_t ParityCheck = 0x0002;
constexpr uint32_t CtsOutFlow = 0x0004;
constexpr uint32_t DsrOutFlow = 0x0008;
constexpr uint32_t DtrMask = 0x0030;
constexpr uint32_t DtrOn = 0x0010;
constexpr uint32_t DtrHandshake = 0x0020;
constexpr uint32_t XonXoffOut = 0x0100;
constexpr uint32_t XonXoffIn = 0x0200;
constexpr uint32_t RtsMask = 0x3000;
constexpr uint32_t RtsOn = 0x1000;
constexpr uint32_t RtsHandshake = 0x2000;
constexpr uint32_t RtsToggle = 0x3000;
} // namespace SerialFlag

constexpr uint32_t kSerialEvRxChar = 0x0001;
constexpr uint32_t kSerialEvTxEmpty = 0x0004;

constexpr uint32_t kSerialPurgeTxAbort = 0x0001;
constexpr uint32_t kSerialPurgeRxAbort = 0x0002;
constexpr uint32_t kSerialPurgeTxClear = 0x0004;
constexpr uint32_t kSerialPurgeRxClear = 0x0008;

class SerialDevice {
public:
    enum class WaitResult { Event, Stopped, Lost };

    // Opens the device for reading and writing, exclusively (a device held elsewhere
    // fails). On failure returns null and puts the reason into *error as an errno value:
    // ENOENT no such device, EACCES no permission, EBUSY in use, ENOTTY not a serial device.
    static std::unique_ptr<SerialDevice> Open(const std::string& path, int* error);
    // Windows only: as Open, with the driver's calls made through that table.
    static std::unique_ptr<SerialDevice> Open(const std::string& path, int* error,
                                              std::shared_ptr<const SerialDriver> driver);
    // The device that port number n stands for when nothing else is said about it:
    // "\\.\COMn" on Windows; empty on Linux, which has no numbered ports.
    static std::string PathForNumber(int number);
    ~SerialDevice();
    SerialDevice(const SerialDevice&) = delete;
    SerialDevice& operator=(const SerialDevice&) = delete;

    // The state as last set (at first as the device reports it).
    bool GetState(SerialLineState& state);
    // Applies the whole state to the device (raw bytes); an invalid byte size, parity,
    // stop bits or baud rate is refused and nothing changes.
    bool SetState(const SerialLineState& state);
    // Why the driver refused the state last handed to SetState, for the person; empty when
    // it took it. The port then still runs with its old settings (often 9600 baud).
    std::string StateRefusal() const;
    // rx is the size of the receive queue (0 keeps it); both are handed to the driver
    // where it takes them.
    bool SetQueueSizes(uint32_t rx, uint32_t tx);
    bool SetEventMask(uint32_t mask);

    // Blocks until a selected event (bits into events), Stop, or the device's loss.
    // Each batch of newly received bytes is reported once.
    WaitResult WaitEvent(uint32_t& events);
    // Makes the current and every later WaitEvent return Stopped; never lost.
    void Stop();

    // The number of bytes in the receive queue; *errors gets the line errors (none are tracked).
    uint32_t ClearError(uint32_t* errors = nullptr);
    int32_t Read(void* buffer, int32_t count);
    // Hands the bytes to the device without waiting for them to leave the line (only for
    // room in the driver's buffer); returns how many it accepted.
    int32_t Write(const void* buffer, int32_t count);
    bool Purge(uint32_t flags);
    // Reports the bytes already queued once more with the next event (after a change
    // of how the receiver takes them).
    void NotifyQueued();

    // The device hung up or failed (unplugged); WaitEvent then returns Lost.
    bool Lost() const { return lost_; }
    bool IsOpen() const;
    // Closes the device; the receive queue stays readable.
    void CloseHandle();

    // For callers that keep a count consistent with the receive queue.
    std::mutex& Mutex() { return mutex_; }
    uint32_t QueuedLocked() const { return uint32_t(queue_.size()); }
    int32_t ReadLocked(void* buffer, int32_t count);
    // Puts bytes back in front of the receive queue.
    void UnreadLocked(const uint8_t* bytes, size_t count);

private:
    struct Native; // the operating system's handles, in the platform's file
    SerialDevice();
    // Windows: opens the in-process line of that path (see InProcessLine).
    static std::unique_ptr<SerialDevice> OpenLine(const std::string& path, int* error);
    // Whether the device's handle is open.
    bool OpenLocked() const;
    // Hands the queue sizes to the driver, where it takes them.
    void SetDriverQueuesLocked(uint32_t rx, uint32_t tx);
    // Selects the driver's events for the mask, where the driver has them.
    void SelectDriverEventsLocked(uint32_t mask);
    // The end of a look of WaitEvent, once the platform has added an emptied transmit queue
    // to events: adds a new batch of received bytes where selected; Event when events holds
    // any, Lost when the device is lost, nothing while the wait goes on.
    std::optional<WaitResult> ResultLocked(uint32_t& events);
    // Makes a wait in progress look again (a stop, freed queue space, a new mask).
    void WakeLocked();
    // Moves what the driver holds into the queue, up to its capacity; hungUp tells that
    // the driver has reported a hang-up, which the device keeps as its loss.
    void DrainLocked(bool hungUp);

    std::unique_ptr<Native> native_;
    std::mutex writeMutex_; // one write at a time; taken before mutex_
    mutable std::mutex mutex_;
    bool stop_ = false;
    std::atomic<bool> lost_{false};
    bool newBytes_ = false;
    bool txWatch_ = false;
    uint32_t eventMask_ = 0;
    size_t capacity_ = 4096;
    std::deque<uint8_t> queue_;
    SerialLineState state_;
    std::string stateRefusal_;
};

} // namespace kestrin
