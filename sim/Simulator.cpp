#include "sim/Simulator.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstring>
#include <system_error>

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
    if (thread_.joinable() || terminal_.IsOpen()) {
        error = "the simulated analyser is already running";
        return false;
    }
    if (!terminal_.Open(true, error))
        return false;
    slavePath_ = terminal_.SlavePath();
    serving_ = true;
    try {
        thread_ = std::thread([this] { Serve(); });
    } catch (const std::system_error& e) {
        serving_ = false;
        error = std::string("cannot start the simulator thread: ") + std::strerror(e.code().value());
        terminal_.Close();
        return false;
    }
    return true;
}

void Simulator::Stop()
{
    std::lock_guard lock(stopMutex_);
    if (thread_.joinable()) {
        terminal_.Interrupt();
        thread_.join();
    }
    serving_ = false;
    terminal_.Close();
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
                if (terminal_.WaitInterrupt(waitMs))
                    return false;
                continue;
            }
        }
        const long n = terminal_.Write(bytes.data() + sent, allowed - sent);
        if (n < 0)
            return false;
        if (n > 0) {
            sent += static_cast<size_t>(n);
            continue;
        }
        // The slave's input queue is full: wait until the program reads.
        if (terminal_.WaitWritable(-1) != kestrin::PseudoTerminal::WaitResult::Ready)
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
        if (terminal_.WaitInterrupt(10))
            return;
        if (waitedMs >= 20 && terminal_.SlaveQueued() <= 0)
            return;
    }
}

void Simulator::Serve()
{
    using kestrin::PseudoTerminal;
    RequestParser parser;
    char buf[512];
    bool vanished = false;
    while (!vanished) {
        const PseudoTerminal::WaitResult r = terminal_.WaitReadable(-1);
        if (r != PseudoTerminal::WaitResult::Ready)
            break;
        const long n = terminal_.Read(buf, sizeof buf);
        if (n == 0)
            continue;
        if (n < 0) {
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
        // after joining this thread, so the terminal is not shared meanwhile.
        terminal_.Hangup();
    }
    serving_ = false;
}

} // namespace kestrin::sim
