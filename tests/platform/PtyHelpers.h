#pragma once
// Pseudo-terminals and UI-thread helpers for the serial tests. The test's main
// thread is the UI thread: main() creates a QCoreApplication and InitSynchronize.
#include "platform/Synchronize.h"

#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <functional>
#include <poll.h>
#include <string>
#include <sys/resource.h>
#include <unistd.h>

namespace testing_pty {

// A pseudo-terminal pair; the slave path is what the port opens, the master plays the other side.
struct Pty {
    int master = -1;
    std::string slavePath;
    Pty()
    {
        master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (master >= 0 && grantpt(master) == 0 && unlockpt(master) == 0)
            slavePath = ptsname(master);
    }
    ~Pty() { CloseMaster(); }
    void CloseMaster()
    {
        if (master >= 0)
            ::close(master);
        master = -1;
    }
    bool Send(const std::string& bytes) const
    {
        return ::write(master, bytes.data(), bytes.size()) == ssize_t(bytes.size());
    }
    // Everything the port wrote within timeoutMs.
    std::string Receive(int timeoutMs) const
    {
        std::string got;
        pollfd p{master, POLLIN, 0};
        while (::poll(&p, 1, timeoutMs) > 0 && (p.revents & POLLIN)) {
            char buf[4096];
            const ssize_t n = ::read(master, buf, sizeof buf);
            if (n <= 0)
                break;
            got.append(buf, size_t(n));
            timeoutMs = 20;
        }
        return got;
    }
};

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

// Runs the calls handed to the UI thread for ms milliseconds.
inline void PumpFor(int ms)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (std::chrono::steady_clock::now() < deadline)
        kestrin::CheckSynchronize(5);
}

inline double ProcessCpuSeconds()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec)
        + double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

} // namespace testing_pty
