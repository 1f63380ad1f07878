#include "sim/Simulator.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace kestrin::sim {
namespace {

constexpr size_t kMaxLine = 32;
constexpr size_t kPaceChunk = 115; // about 10 ms on the line
constexpr Extended kTwoTo32 = 4294967296.0L;

template <typename T>
bool ParseDecimalLine(const std::string& line, T& value)
{
    if (line.empty() || line.size() > 20)
        return false;
    // Decimal only: an optional '-', digits, nothing else.
    const char* first = line.data();
    const char* last = line.data() + line.size();
    const auto [end, ec] = std::from_chars(first, last, value, 10);
    return ec == std::errc() && end == last;
}

} // namespace

std::vector<SweepRequest> RequestParser::Feed(std::string_view bytes, std::chrono::steady_clock::time_point now)
{
    std::vector<SweepRequest> done;
    if ((state_ != 0 || !line_.empty()) && now - lastBytes_ > kRequestGap) {
        state_ = 0;
        line_.clear();
        lineTooLong_ = false;
    }
    lastBytes_ = now;
    for (char c : bytes) {
        if (c == '\r') {
            TakeLine(done);
            continue;
        }
        if (line_.size() >= kMaxLine)
            lineTooLong_ = true;
        else
            line_ += c;
    }
    return done;
}

void RequestParser::TakeLine(std::vector<SweepRequest>& done)
{
    const bool garbled = lineTooLong_;
    const std::string line = line_;
    line_.clear();
    lineTooLong_ = false;

    if (garbled) {
        state_ = 0;
        return;
    }
    switch (state_) {
    case 0:
        // Anything but the leading "0" is skipped until a request starts.
        if (line == "0")
            state_ = 1;
        return;
    case 1:
        if (ParseDecimalLine(line, pending_.StartWord)) {
            state_ = 2;
            return;
        }
        break;
    case 2:
        if (ParseDecimalLine(line, pending_.Steps) && pending_.Steps >= 1 && pending_.Steps <= kMaxSteps) {
            state_ = 3;
            return;
        }
        break;
    case 3:
        if (ParseDecimalLine(line, pending_.StepWord)) {
            done.push_back(pending_);
            state_ = 0;
            return;
        }
        break;
    }
    // A line that does not fit drops the request; a "0" may start the next one at once.
    state_ = line == "0" ? 1 : 0;
}

Extended SampleFreqHz(const SimConfig& config, const SweepRequest& request, int32_t i)
{
    const Extended word = static_cast<Extended>(request.StartWord) + static_cast<Extended>(request.StepWord) * i;
    return word * static_cast<Extended>(config.ClockHz) / kTwoTo32;
}

std::vector<uint8_t> BuildReply(const SimConfig& config, const SweepRequest& request)
{
    std::vector<uint8_t> bytes;
    if (config.Mode == Fault::Silent || request.Steps <= 0)
        return bytes;
    bytes.resize(static_cast<size_t>(request.Steps) * 4);
    for (int32_t i = 0; i < request.Steps; ++i) {
        uint8_t* sample = bytes.data() + 4 * static_cast<size_t>(i);
        EncodeSample(CountsOf(LoadGamma(config.Load, SampleFreqHz(config, request, i))), sample);
        if (config.Mode == Fault::HighBytes) {
            sample[1] = static_cast<uint8_t>(sample[1] | 0x04);
            sample[3] = static_cast<uint8_t>(sample[3] | 0xFC);
        }
    }
    const size_t faultBytes = static_cast<size_t>(std::max(config.FaultBytes, 0));
    if (config.Mode == Fault::Short)
        bytes.resize(bytes.size() > faultBytes ? bytes.size() - faultBytes : 0);
    else if (config.Mode == Fault::Surplus)
        for (size_t k = 0; k < faultBytes; ++k)
            bytes.push_back(static_cast<uint8_t>(0xA5 ^ k));
    return bytes;
}

Simulator::Simulator(SimConfig config) : config_(config) {}

Simulator::~Simulator()
{
    Stop();
}

bool Simulator::Start(std::string& error)
{
    if (thread_.joinable() || master_ >= 0) {
        error = "the simulated analyser is already running";
        return false;
    }
    auto fail = [&](const char* what) {
        error = std::string(what) + ": " + std::strerror(errno);
        CloseMaster();
        if (stopFd_ >= 0) {
            close(stopFd_);
            stopFd_ = -1;
        }
        return false;
    };

    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master_ < 0)
        return fail("cannot create a pseudo-terminal");
    if (grantpt(master_) != 0 || unlockpt(master_) != 0)
        return fail("cannot unlock the pseudo-terminal");
    char name[128];
    if (ptsname_r(master_, name, sizeof name) != 0)
        return fail("cannot name the pseudo-terminal");
    slavePath_ = name;

    slaveHold_ = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slaveHold_ < 0)
        return fail("cannot open the pseudo-terminal's slave side");
    termios tio{};
    if (tcgetattr(slaveHold_, &tio) != 0)
        return fail("cannot read the terminal settings");
    cfmakeraw(&tio);
    cfsetspeed(&tio, B115200);
    if (tcsetattr(slaveHold_, TCSANOW, &tio) != 0)
        return fail("cannot set raw mode");

    const int flags = fcntl(master_, F_GETFL);
    if (flags < 0 || fcntl(master_, F_SETFL, flags | O_NONBLOCK) != 0)
        return fail("cannot make the pseudo-terminal non-blocking");

    stopFd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (stopFd_ < 0)
        return fail("cannot create the stop event");

    serving_ = true;
    try {
        thread_ = std::thread([this] { Serve(); });
    } catch (const std::system_error& e) {
        serving_ = false;
        errno = e.code().value();
        return fail("cannot start the simulator thread");
    }
    return true;
}

void Simulator::Stop()
{
    std::lock_guard lock(stopMutex_);
    if (thread_.joinable()) {
        const uint64_t one = 1;
        while (write(stopFd_, &one, sizeof one) < 0 && errno == EINTR) {
        }
        thread_.join();
    }
    serving_ = false;
    CloseMaster();
    if (stopFd_ >= 0) {
        close(stopFd_);
        stopFd_ = -1;
    }
}

void Simulator::CloseMaster()
{
    if (master_ >= 0) {
        close(master_);
        master_ = -1;
    }
    if (slaveHold_ >= 0) {
        close(slaveHold_);
        slaveHold_ = -1;
    }
}

bool Simulator::StopRequested(int timeoutMs)
{
    pollfd p{stopFd_, POLLIN, 0};
    int r;
    while ((r = poll(&p, 1, timeoutMs)) < 0 && errno == EINTR) {
    }
    return r != 0;
}

bool Simulator::WaitWritable(int timeoutMs)
{
    pollfd fds[2] = {{master_, POLLOUT, 0}, {stopFd_, POLLIN, 0}};
    int r;
    while ((r = poll(fds, 2, timeoutMs)) < 0 && errno == EINTR) {
    }
    if (r < 0 || (fds[1].revents & POLLIN))
        return false;
    return !(fds[0].revents & (POLLERR | POLLNVAL));
}

bool Simulator::SendReply(const std::vector<uint8_t>& bytes, size_t limit)
{
    using Clock = std::chrono::steady_clock;
    const size_t total = std::min(limit, bytes.size());
    const auto begin = Clock::now();
    size_t sent = 0;
    while (sent < total) {
        size_t allowed = total;
        if (config_.Pace == Pacing::Real) {
            // Bytes due by now at the line rate; sleep until the next one is due.
            const auto elapsed = std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - begin).count();
            allowed = std::min(total, static_cast<size_t>(elapsed * kBytesPerSecond / 1000000) + 1);
            if (allowed <= sent) {
                // Wake when the next chunk is due rather than for every byte.
                const size_t next = std::min(total, sent + kPaceChunk);
                const int64_t dueUs = static_cast<int64_t>(next - 1) * 1000000 / kBytesPerSecond;
                const int waitMs = static_cast<int>(std::max<int64_t>(1, (dueUs - elapsed + 999) / 1000));
                if (StopRequested(waitMs))
                    return false;
                continue;
            }
        }
        const ssize_t n = write(master_, bytes.data() + sent, allowed - sent);
        if (n > 0) {
            sent += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK)
            return false;
        // The slave's input queue is full: wait until the program reads.
        if (!WaitWritable(-1))
            return false;
    }
    return true;
}

void Simulator::WaitTaken()
{
    // A hang-up discards what the program has not read yet; give it up to a second
    // to take the bytes that were sent (the queue counts them once they have passed
    // the terminal's buffers, so the first check comes after a short pause).
    for (int waitedMs = 0; waitedMs < 1000; waitedMs += 10) {
        if (StopRequested(10))
            return;
        int queued = 0;
        if (waitedMs >= 20 && (ioctl(slaveHold_, TIOCINQ, &queued) != 0 || queued == 0))
            return;
    }
}

void Simulator::Serve()
{
    RequestParser parser;
    char buf[512];
    bool vanished = false;
    while (!vanished) {
        pollfd fds[2] = {{master_, POLLIN, 0}, {stopFd_, POLLIN, 0}};
        const int r = poll(fds, 2, -1);
        if (r < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        if (fds[1].revents & POLLIN)
            break;
        if (fds[0].revents & (POLLERR | POLLNVAL))
            break;
        if (!(fds[0].revents & (POLLIN | POLLHUP)))
            continue;
        const ssize_t n = read(master_, buf, sizeof buf);
        if (n < 0 && (errno == EAGAIN || errno == EINTR))
            continue;
        if (n <= 0) {
            // With the slave held open this only happens when the terminal is gone.
            break;
        }
        for (const SweepRequest& request : parser.Feed(std::string_view(buf, static_cast<size_t>(n)))) {
            const std::vector<uint8_t> reply = BuildReply(config_, request);
            if (config_.Mode == Fault::Vanish) {
                const size_t cut = static_cast<size_t>(std::max(config_.FaultBytes, 0));
                if (SendReply(reply, cut))
                    WaitTaken();
                vanished = true;
                break;
            }
            if (reply.empty())
                continue;
            if (!SendReply(reply, reply.size())) {
                serving_ = false;
                return;
            }
            ++answered_;
        }
    }
    if (vanished) {
        // Gone mid-reply: the program sees the device hang up. Stop() only closes
        // after joining this thread, so the descriptors are not shared meanwhile.
        CloseMaster();
    }
    serving_ = false;
}

} // namespace kestrin::sim
