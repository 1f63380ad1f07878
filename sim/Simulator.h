#pragma once
// A simulated analyser on the master side of a pseudo-terminal. It reads the
// request lines ("0", start word, steps, step word, each ended by CR) and answers
// with steps x 4 sample bytes computed from a load model, optionally paced at the
// line rate and optionally misbehaving on purpose.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "platform/PseudoTerminal.h"
#include "sim/LoadModel.h"

namespace kestrin::sim {

constexpr int32_t kBytesPerSecond = 11520; // the line rate: 115200 baud, 10 bits per byte

// Real: the line rate, kBytesPerSecond; Slow: a tenth of it (an analyser that keeps
// sending, slowly); Fast: as fast as the terminal takes the bytes.
enum class Pacing { Real, Slow, Fast };

enum class Fault {
    None,
    Silent,    // reads requests, never answers
    Short,     // leaves out the last FaultBytes bytes of every reply
    Surplus,   // sends FaultBytes extra bytes after every reply
    HighBytes, // every high byte carries bits above the two that count
    Vanish,    // closes the pseudo-terminal after FaultBytes bytes of the first reply
};

struct SimConfig {
    LoadModel Load;
    int64_t ClockHz = 400000000;
    Pacing Pace = Pacing::Real;
    Fault Mode = Fault::None;
    int32_t FaultBytes = 4; // for Short, Surplus and Vanish
    // Given every byte the program sends, as it arrives, on the serving thread.
    std::function<void(std::string_view bytes)> Received{};
};

// One complete request.
struct SweepRequest {
    int64_t StartWord = 0;
    int32_t Steps = 0;
    int64_t StepWord = 0;
};

// Collects request lines from the bytes the program sends. A line that is not
// what its place in the request needs (a line feed, stray bytes, a number that
// does not parse or is out of range) drops the request being collected.
class RequestParser {
public:
    // The program writes the four lines of a request back to back. A request left
    // unfinished for longer than this is dropped, so a new request after an aborted one
    // (its lines cut short when the program stopped) is not misread as its remainder.
    static constexpr std::chrono::milliseconds kRequestGap{250};
    // The most samples a request may ask for; a larger count drops the request.
    static constexpr int32_t kMaxSteps = 4000;

    // Feeds bytes received at the time given; returns the requests they complete, in order.
    std::vector<SweepRequest> Feed(std::string_view bytes,
                                   std::chrono::steady_clock::time_point now = std::chrono::steady_clock::now());

private:
    void TakeLine(std::vector<SweepRequest>& done);

    std::string line_;
    bool lineTooLong_ = false;
    int state_ = 0; // lines of the current request taken so far
    SweepRequest pending_;
    std::chrono::steady_clock::time_point lastBytes_{};
};

// The reply bytes for one request, faults that change the bytes included
// (Short, Surplus, HighBytes; Silent gives nothing).
std::vector<uint8_t> BuildReply(const SimConfig& config, const SweepRequest& request);

// Frequency of sample i of a request: (start + i x step) x clock / 2^32 Hz.
Extended SampleFreqHz(const SimConfig& config, const SweepRequest& request, int32_t i);

class Simulator {
public:
    explicit Simulator(SimConfig config);
    ~Simulator(); // stops the thread and closes the pseudo-terminal
    Simulator(const Simulator&) = delete;
    Simulator& operator=(const Simulator&) = delete;

    // Creates the pseudo-terminal and starts serving. On failure returns false with a message.
    bool Start(std::string& error);
    // Stops serving and closes the pseudo-terminal; safe to call more than once.
    void Stop();

    // Path of the slave side, e.g. /dev/pts/3 (what the program opens).
    const std::string& SlavePath() const { return slavePath_; }
    // False once serving has ended: stopped, vanished on purpose, or failed.
    bool Serving() const { return serving_.load(); }
    int64_t RequestsAnswered() const { return answered_.load(); }

private:
    void Serve();
    // Writes bytes to the master, paced as configured; false when stopped or the
    // write failed. limit < size writes only the first limit bytes.
    bool SendReply(const std::vector<uint8_t>& bytes, size_t limit);
    // Before vanishing: waits until the program has read what was sent.
    void WaitTaken();

    SimConfig config_;
    PseudoTerminal terminal_; // its slave side held open: no hang-up while no one is connected
    std::string slavePath_;
    std::thread thread_;
    std::atomic<bool> serving_{false};
    std::atomic<int64_t> answered_{0};
    std::mutex stopMutex_;
};

} // namespace kestrin::sim
