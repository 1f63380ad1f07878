#pragma once
// Pseudo-terminals and UI-thread helpers for the serial tests. The test's main
// thread is the UI thread: main() creates a QCoreApplication and InitSynchronize.
#include "platform/Synchronize.h"

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <functional>
#include <poll.h>
#include <string>
#include <unistd.h>

namespace testing_pty {

// A pseudo-terminal pair; the port opens slavePath, the master plays the other side.
struct Pty {
    int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    std::string slavePath = grantpt(master) == 0 && unlockpt(master) == 0 ? ptsname(master) : "";
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
    // Everything the port wrote, waiting up to timeoutMs for the first bytes.
    std::string Receive(int timeoutMs) const
    {
        std::string got;
        pollfd p{master, POLLIN, 0};
        for (char buf[4096]; ::poll(&p, 1, timeoutMs) > 0 && (p.revents & POLLIN); timeoutMs = 20) {
            const ssize_t n = ::read(master, buf, sizeof buf);
            if (n <= 0)
                break;
            got.append(buf, size_t(n));
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
    PumpUntil([] { return false; }, ms);
}

// CPU time of the whole process, all threads.
inline double ProcessCpuSeconds()
{
    return double(std::clock()) / CLOCKS_PER_SEC;
}

} // namespace testing_pty
