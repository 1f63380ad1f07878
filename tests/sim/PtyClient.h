#pragma once
// The program's side of a simulated analyser in tests: opens the terminal (the
// analyser puts it in raw mode), writes requests and collects what comes back.
#include <cerrno>
#include <cstdint>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <unistd.h>
#include <vector>

class PtyClient {
public:
    explicit PtyClient(const std::string& path) : fd_(open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC)) {}
    ~PtyClient()
    {
        if (fd_ >= 0)
            close(fd_);
    }
    PtyClient(const PtyClient&) = delete;
    PtyClient& operator=(const PtyClient&) = delete;

    bool Send(const std::string& text) const
    {
        for (size_t done = 0; done < text.size();) {
            const ssize_t n = write(fd_, text.data() + done, text.size() - done);
            if (n <= 0)
                return false;
            done += static_cast<size_t>(n);
        }
        return true;
    }

    // Reads until nothing more arrives for quietMs (so surplus bytes are caught too)
    // or the terminal hangs up.
    std::vector<uint8_t> Collect(int quietMs = 300)
    {
        std::vector<uint8_t> got;
        hungUp_ = false;
        pollfd p{fd_, POLLIN, 0};
        while (fd_ >= 0 && poll(&p, 1, quietMs) > 0) {
            uint8_t buf[4096];
            const ssize_t n = read(fd_, buf, sizeof buf);
            if (n <= 0) {
                hungUp_ = n == 0 || errno == EIO || (p.revents & POLLHUP);
                break;
            }
            got.insert(got.end(), buf, buf + n);
        }
        return got;
    }

    bool HungUp() const { return hungUp_; }

private:
    int fd_;
    bool hungUp_ = false;
};

inline const std::string kDefaultRequest = "0\r1073742\r500\r3863323\r";

inline std::string Request(int64_t start, int32_t steps, int64_t step)
{
    return "0\r" + std::to_string(start) + "\r" + std::to_string(steps) + "\r" + std::to_string(step) + "\r";
}
