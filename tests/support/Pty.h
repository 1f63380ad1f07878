#pragma once
// The other end of the serial device that the code under test opens at slavePath, and the
// pump that runs the calls handed to the UI thread (the test's main thread, set up by
// TestMain.cpp). On Linux the other end is a pseudo-terminal's master side. Under Wine it
// is the far end of a null-modem cable whose near end, the COM port at slavePath, is a
// pseudo-terminal too (kestrin-com-cable; scripts/test-windows.sh lays the cables and names
// them in KESTRIN_COM_CABLES); closing the far end cuts the cable, so the near end hangs up.
#include "platform/Synchronize.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

class Pty {
public:
    // A new other end, for a device at slavePath that nobody has open yet.
    Pty();
    // Linux only: that terminal, opened as the program opens its port.
    explicit Pty(const std::string& path);
    ~Pty();
    Pty(const Pty&) = delete;
    Pty& operator=(const Pty&) = delete;

    void Close();
    // Writes all bytes, waiting for room.
    bool Send(const std::string& bytes);
    // What arrives: waits firstMs for the first bytes, then until quietMs pass without any
    // (so surplus bytes are caught too) or the other side hangs up.
    std::string Receive(int firstMs, int quietMs = 100);
    // What arrives until there are count bytes (or deadlineMs pass, or the other side hangs
    // up), then until quietMs pass without more (0: returns at once), so surplus is caught.
    // The wait for count bytes is generous: a loaded machine may deliver them in pieces.
    std::string ReceiveAtLeast(size_t count, int deadlineMs = 20000, int quietMs = 100);

    int fd = -1; // Linux: the terminal's descriptor, for looking at its settings
    std::string slavePath;
    bool hungUp = false;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// Bytes that show any loss, doubling or reordering.
inline std::string Pattern(size_t n)
{
    std::string s(n, '\0');
    for (size_t i = 0; i < n; ++i)
        s[i] = char((i * 7 + i / 251) & 0xFF);
    return s;
}

// Runs the calls handed to the UI thread until pred holds; false after timeoutMs.
inline bool PumpUntil(const std::function<bool()>& pred, int timeoutMs = 20000)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!pred()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        kestrin::CheckSynchronize(5);
    }
    return true;
}

inline std::string Pty::ReceiveAtLeast(size_t count, int deadlineMs, int quietMs)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(deadlineMs);
    std::string got;
    hungUp = false;
    while (got.size() < count && !hungUp) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            break;
        got += Receive(int(left.count()), 10);
    }
    if (quietMs > 0 && !hungUp)
        got += Receive(quietMs, quietMs);
    return got;
}
