#pragma once
// Pseudo-terminals for the tests, and the pump that runs the calls handed to the UI
// thread (the test's main thread, set up by TestMain.cpp).
#include "platform/PseudoTerminal.h"
#include "platform/Synchronize.h"

#include <chrono>
#include <functional>
#include <string>

// Made without a path: a new master that plays the other side of the slavePath the code
// under test opens. Made with a path: that terminal, opened as the program opens its port.
class Pty {
public:
    Pty()
    {
        std::string error;
        terminal.Open(false, error);
        slavePath = terminal.SlavePath();
        fd = int(terminal.NativeHandle());
    }
    explicit Pty(const std::string& path)
    {
        terminal.OpenPath(path);
        fd = int(terminal.NativeHandle());
    }

    void Close()
    {
        terminal.Close();
        fd = -1;
    }
    bool Send(const std::string& bytes) { return terminal.WriteAll(bytes.data(), bytes.size()); }
    // What arrives: waits firstMs for the first bytes, then until quietMs pass without any
    // (so surplus bytes are caught too) or the other side hangs up.
    std::string Receive(int firstMs, int quietMs = 100)
    {
        using Wait = kestrin::PseudoTerminal::WaitResult;
        std::string got;
        long n = 1; // the last read: less than 0 when the other side hung up
        for (char buf[4096]; n >= 0 && terminal.WaitReadable(got.empty() ? firstMs : quietMs) != Wait::TimedOut;)
            if ((n = terminal.Read(buf, sizeof buf)) > 0)
                got.append(buf, size_t(n));
        hungUp = n < 0;
        return got;
    }

    kestrin::PseudoTerminal terminal;
    int fd = -1; // the terminal's descriptor, for looking at its settings
    std::string slavePath;
    bool hungUp = false;
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
inline bool PumpUntil(const std::function<bool()>& pred, int timeoutMs = 5000)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!pred()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        kestrin::CheckSynchronize(5);
    }
    return true;
}
