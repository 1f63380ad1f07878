#pragma once
// The program's side of a simulated analyser in tests: opens the terminal in raw
// mode, writes requests and collects what comes back.
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <termios.h>
#include <unistd.h>
#include <vector>

class PtyClient {
public:
    explicit PtyClient(const std::string& path)
    {
        fd_ = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (fd_ >= 0) {
            termios tio{};
            tcgetattr(fd_, &tio);
            cfmakeraw(&tio);
            tcsetattr(fd_, TCSANOW, &tio);
        }
    }
    ~PtyClient()
    {
        if (fd_ >= 0)
            close(fd_);
    }
    PtyClient(const PtyClient&) = delete;
    PtyClient& operator=(const PtyClient&) = delete;

    bool IsOpen() const { return fd_ >= 0; }

    bool Send(const std::string& text)
    {
        size_t done = 0;
        while (done < text.size()) {
            const ssize_t n = write(fd_, text.data() + done, text.size() - done);
            if (n <= 0)
                return false;
            done += static_cast<size_t>(n);
        }
        return true;
    }

    // Reads until nothing more arrives for quietMs (so surplus bytes are caught too),
    // the terminal hangs up, or limitMs have passed.
    std::vector<uint8_t> Collect(int quietMs = 300, int limitMs = 10000)
    {
        std::vector<uint8_t> got;
        hungUp_ = false;
        const auto begin = std::chrono::steady_clock::now();
        for (;;) {
            const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
                std::chrono::steady_clock::now() - begin).count();
            if (elapsed > limitMs)
                break;
            pollfd p{fd_, POLLIN, 0};
            const int r = poll(&p, 1, quietMs);
            if (r <= 0)
                break;
            uint8_t buf[4096];
            const ssize_t n = read(fd_, buf, sizeof buf);
            if (n > 0) {
                got.insert(got.end(), buf, buf + n);
                continue;
            }
            if ((p.revents & (POLLHUP | POLLERR)) || n == 0 || (n < 0 && errno == EIO)) {
                hungUp_ = true;
                break;
            }
        }
        return got;
    }

    bool HungUp() const { return hungUp_; }

private:
    int fd_ = -1;
    bool hungUp_ = false;
};

inline const std::string kDefaultRequest = "0\r1073742\r500\r3863323\r";
