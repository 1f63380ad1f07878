#pragma once
// A pseudo-terminal: the master side stands in for a serial device, and the program opens
// the slave side by its path as that device's port. Also opens an existing terminal by
// path, as the program opens its port. Reads and writes never block; the waits end early
// once Interrupt is called, so a thread serving the terminal can be stopped.
// Windows has no pseudo-terminals: there the pair is an in-process line (InProcessLine),
// which the program opens by the slave path as it opens a COM port, and OpenPath fails.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace kestrin {

class InProcessLine;

class PseudoTerminal {
public:
    enum class WaitResult { Ready, TimedOut, Interrupted, Failed };

    PseudoTerminal() = default;
    ~PseudoTerminal(); // Close
    PseudoTerminal(const PseudoTerminal&) = delete;
    PseudoTerminal& operator=(const PseudoTerminal&) = delete;

    // Makes a new pair. With holdSlave the slave side is held open too, in raw mode at
    // 115200 baud, so that the master never sees a hang-up while no program has it open.
    // On failure returns false with what failed and the system's reason in error.
    bool Open(bool holdSlave, std::string& error);
    // Opens the terminal at path (a slave side, or a link to one); false on failure.
    bool OpenPath(const std::string& path);
    // Closes the terminal; the pair's slave side then sees a hang-up. Interrupt still works.
    void Hangup();
    // Hangup, and frees the interrupt.
    void Close();

    bool IsOpen() const;
    // The slave side's path, e.g. /dev/pts/3; empty when opened by path.
    const std::string& SlavePath() const { return slavePath_; }
    // The terminal's descriptor (-1 when closed), for tests that look at its settings.
    intptr_t NativeHandle() const { return fd_; }

    // Up to size bytes that are there now: their count, 0 when none are, -1 when the
    // other side has hung up or reading failed.
    long Read(void* buffer, size_t size);
    // As many of size bytes as fit now: their count, 0 when the queue is full, -1 on failure.
    long Write(const void* data, size_t size);
    // Writes all bytes, waiting for room; false on failure or interrupt.
    bool WriteAll(const void* data, size_t size);
    // Waits up to timeoutMs (-1: no limit) for bytes or a hang-up to read, or for room to
    // write; Failed on an error of the terminal.
    WaitResult WaitReadable(int timeoutMs);
    WaitResult WaitWritable(int timeoutMs);
    // Waits up to timeoutMs for Interrupt; true once it has come (or the wait failed).
    bool WaitInterrupt(int timeoutMs);
    // From any thread: ends every wait, now and later, with Interrupted.
    void Interrupt();
    // Bytes written to the held slave side that the program has not read yet; -1 when unknown.
    long SlaveQueued() const;

private:
    WaitResult Wait(short events, int timeoutMs);

    int fd_ = -1;
    int slaveHold_ = -1;
    int interrupt_ = -1;
    std::string slavePath_;
    std::shared_ptr<InProcessLine> line_; // Windows: the pair, kept after a hang-up for Interrupt
};

} // namespace kestrin
