#pragma once
// Pseudo-terminals for the tests, and the pump that runs the calls handed to the UI
// thread (the test's main thread, set up by TestMain.cpp).
#include "platform/Synchronize.h"

#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <functional>
#include <poll.h>
#include <string>
#include <unistd.h>

// Made without a path: a new master that plays the other side of the slavePath the code
// under test opens. Made with a path: that terminal, opened as the program opens its port.
class Pty {
public:
    Pty() : fd(posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC))
    {
        if (grantpt(fd) == 0 && unlockpt(fd) == 0)
            slavePath = ptsname(fd);
    }
    explicit Pty(const std::string& path) : fd(::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC)) {}
    ~Pty() { Close(); }
    Pty(const Pty&) = delete;
    Pty& operator=(const Pty&) = delete;

    void Close()
    {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }
    bool Send(const std::string& bytes) const
    {
        for (size_t done = 0; done < bytes.size();) {
            const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
            if (n <= 0)
                return false;
            done += size_t(n);
        }
        return true;
    }
    // What arrives: waits firstMs for the first bytes, then until quietMs pass without any
    // (so surplus bytes are caught too) or the other side hangs up.
    std::string Receive(int firstMs, int quietMs = 100)
    {
        std::string got;
        pollfd p{fd, POLLIN, 0};
        ssize_t n = 1; // the last read: 0 or less when the other side hung up
        for (char buf[4096]; n > 0 && ::poll(&p, 1, got.empty() ? firstMs : quietMs) > 0;)
            if ((n = ::read(fd, buf, sizeof buf)) > 0)
                got.append(buf, size_t(n));
        hungUp = n <= 0;
        return got;
    }

    int fd;
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
