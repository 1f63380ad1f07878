// Fuzz target: the simulated analyser's request parser, fed any bytes in any pieces with
// short or long pauses between them, and the reply built for what it accepts.
// Checked: the requests found are those of a reference reading of the whole stream (lines
// ended by CR: "0", a start word, 1 to 4000 steps, a step word, each number a plain decimal
// of at most 20 characters; a line that does not fit drops the request; a pause longer than
// the request gap drops an unfinished one), however the bytes are cut into pieces; and every
// reply has steps x 4 bytes whose high parts are 0 to 3, whatever the load and clock.
#include <cerrno>
#include <chrono>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include "fuzz/FuzzCheck.h"
#include "sim/Simulator.h"

namespace {

using kestrin::sim::SweepRequest;
using Clock = std::chrono::steady_clock;

constexpr size_t kMaxRepliesChecked = 2; // a reply of 4000 steps is costly; the first few suffice

// A plain decimal of at most 20 characters that fits [min, max].
bool Number(const std::string& line, long long min, long long max, long long& value)
{
    const size_t first = line.size() > 1 && line[0] == '-' ? 1 : 0;
    if (line.empty() || line.size() > 20 || line.find_first_not_of("0123456789", first) != std::string::npos)
        return false;
    errno = 0;
    value = std::strtoll(line.c_str(), nullptr, 10);
    return errno != ERANGE && value >= min && value <= max;
}

// The requests in one stretch of bytes sent without a long pause.
void Reference(const std::string& stretch, std::vector<SweepRequest>& out)
{
    int state = 0;
    SweepRequest pending;
    size_t begin = 0;
    for (size_t cr; (cr = stretch.find('\r', begin)) != std::string::npos; begin = cr + 1) {
        const std::string line = stretch.substr(begin, cr - begin);
        long long v = 0;
        bool fits = false;
        switch (state) {
        case 0:
            state = line == "0" ? 1 : 0;
            continue;
        case 1:
            fits = Number(line, LLONG_MIN, LLONG_MAX, v);
            pending.StartWord = v;
            break;
        case 2:
            fits = Number(line, 1, 4000, v);
            pending.Steps = static_cast<int32_t>(v);
            break;
        case 3:
            fits = Number(line, LLONG_MIN, LLONG_MAX, v);
            pending.StepWord = v;
            if (fits) {
                out.push_back(pending);
                state = 0;
                continue;
            }
            break;
        }
        if (fits)
            ++state;
        else
            state = line == "0" ? 1 : 0;
    }
}

bool Equal(const std::vector<SweepRequest>& a, const std::vector<SweepRequest>& b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (a[i].StartWord != b[i].StartWord || a[i].Steps != b[i].Steps || a[i].StepWord != b[i].StepWord)
            return false;
    return true;
}

Extended TakeFinite(kestrin::fuzz::Input& in)
{
    const double v = in.Take<double>();
    return std::isfinite(v) ? static_cast<Extended>(v) : 0;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    kestrin::fuzz::Input in(data, size);
    kestrin::sim::SimConfig config;
    config.Load.Kind = static_cast<kestrin::sim::LoadKind>(in.Take<uint8_t>() % 5);
    config.Load.R = TakeFinite(in);
    config.Load.LuH = TakeFinite(in);
    config.Load.CpF = TakeFinite(in);
    config.ClockHz = in.Take<int32_t>();

    // The rest comes in pieces: a head byte (low 6 bits: length; top bit: a long pause
    // before the piece) and that many bytes.
    kestrin::sim::RequestParser parser;
    const auto gap = kestrin::sim::RequestParser::kRequestGap;
    Clock::time_point now{};
    std::vector<SweepRequest> found, expected;
    std::string stretch;
    while (in.RestSize() > 0) {
        const uint8_t head = in.Take<uint8_t>();
        const size_t length = std::min<size_t>(head & 0x3F, in.RestSize());
        const std::string piece(reinterpret_cast<const char*>(in.Rest()), length);
        for (size_t k = 0; k < length; ++k)
            in.Take<uint8_t>();
        if (head & 0x80) {
            now += gap * 4;
            Reference(stretch, expected);
            stretch.clear();
        } else {
            now += std::chrono::milliseconds(1);
        }
        stretch += piece;
        for (const SweepRequest& r : parser.Feed(piece, now))
            found.push_back(r);
    }
    Reference(stretch, expected);
    FUZZ_CHECK(Equal(found, expected));

    for (size_t i = 0; i < found.size() && i < kMaxRepliesChecked; ++i) {
        const std::vector<uint8_t> reply = kestrin::sim::BuildReply(config, found[i]);
        FUZZ_CHECK(reply.size() == static_cast<size_t>(found[i].Steps) * 4);
        for (size_t k = 0; k < reply.size(); k += 4)
            FUZZ_CHECK(reply[k + 1] <= 3 && reply[k + 3] <= 3);
    }
    return 0;
}
