// The analyser's side of the protocol: reading the request lines and building the reply.
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

} // namespace kestrin::sim
