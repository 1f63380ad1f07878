#pragma once
// A serial line inside this process, for a device that has no operating-system port of its
// own (the simulated analyser on Windows, which has no pseudo-terminals). The device side
// makes the line and serves it; the program opens it by its path as it opens any port.
// Both directions are byte queues; everything here is safe from any thread.
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

namespace kestrin {

class InProcessLine {
public:
    // What the device side may have queued for the program before it must wait, as a
    // driver's receive buffer would hold.
    static constexpr size_t kCapacity = 4096;

    // A new line, found by its path until it is closed.
    static std::shared_ptr<InProcessLine> Create();
    // The open line of that path, or null.
    static std::shared_ptr<InProcessLine> Find(const std::string& path);
    // Paths of such lines are told apart from every system device by this prefix.
    static bool IsLinePath(const std::string& path);

    const std::string& Path() const { return path_; }

    // ---- the program's side
    // Takes the line for the program (one at a time); wake is called, from any thread and
    // with the line's lock held, whenever bytes arrive or the device side goes. False when
    // the line is taken or closed.
    bool Attach(std::function<void()> wake);
    void Detach();
    // Up to max bytes that the device side has sent, in order.
    size_t TakeFromDevice(uint8_t* buffer, size_t max);
    // Bytes for the device side; all are taken.
    void SendToDevice(const uint8_t* bytes, size_t count);
    void PurgeFromDevice();
    // The device side has gone and everything it sent has been taken.
    bool Gone() const;

    // ---- the device's side
    // Bytes the program has sent: their count, 0 when none.
    size_t TakeFromProgram(uint8_t* buffer, size_t max);
    // As many bytes as fit below kCapacity: their count.
    size_t SendToProgram(const uint8_t* bytes, size_t count);
    size_t QueuedForProgram() const;
    // Waits up to timeoutMs (-1: no limit) until the program has sent bytes, there is room
    // for the program, or an interrupt; true when the condition holds.
    bool WaitFromProgram(int timeoutMs);
    bool WaitRoom(int timeoutMs);
    // True once Interrupt was called; otherwise waits up to timeoutMs for it.
    bool WaitInterrupt(int timeoutMs);
    // Ends every wait of the device side, now and later.
    void Interrupt();
    bool Interrupted() const;
    // The device side goes: the program reads what is left, then sees the line lost; the
    // path no longer finds the line.
    void Close();

private:
    template <typename Condition>
    bool WaitFor(int timeoutMs, Condition condition);

    std::string path_;
    mutable std::mutex mutex_;
    std::condition_variable changed_; // for the device side's waits
    std::deque<uint8_t> toProgram_;
    std::deque<uint8_t> toDevice_;
    std::function<void()> wake_; // the program's, while attached
    bool attached_ = false;
    bool closed_ = false;
    bool interrupted_ = false;
};

} // namespace kestrin
