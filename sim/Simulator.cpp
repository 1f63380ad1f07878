#include "sim/Simulator.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <system_error>

namespace kestrin::sim {
namespace {

constexpr size_t kPaceChunk = 115; // about 10 ms on the line (100 ms at the slow pace)

} // namespace

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
        if (config_.Pace != Pacing::Fast) {
            // Bytes due by now at the pace's rate; sleep until the next one is due.
            const int64_t rate = config_.Pace == Pacing::Slow ? kBytesPerSecond / 10 : kBytesPerSecond;
            const auto elapsed = std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - begin).count();
            allowed = std::min(total, static_cast<size_t>(elapsed * rate / 1000000) + 1);
            if (allowed <= sent) {
                // Wake when the next chunk is due rather than for every byte.
                const size_t next = std::min(total, sent + kPaceChunk);
                const int64_t dueUs = static_cast<int64_t>(next - 1) * 1000000 / rate;
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
    // A hang-up discards what the program has not read yet. The slave's queue counts the
    // bytes only once the kernel has passed them on from the master, which on a loaded
    // machine can take far longer than a few milliseconds: wait until they show there (a
    // program that reads at once may take them before they are seen, so this wait is
    // bounded), then until the program has read them, up to a generous limit.
    bool seen = false;
    for (int waitedMs = 0; waitedMs < 10000; waitedMs += 10) {
        if (terminal_.WaitInterrupt(10))
            return;
        const long queued = terminal_.SlaveQueued();
        seen = seen || queued > 0;
        if (queued < 0 || (queued == 0 && (seen || waitedMs >= 1000)))
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
        const std::string_view bytes(buf, static_cast<size_t>(n));
        if (config_.Received)
            config_.Received(bytes);
        for (const SweepRequest& request : parser.Feed(bytes)) {
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
