#include "sim/LoadModel.h"

#include <algorithm>
#include <cmath>

namespace kestrin::sim {
namespace {

constexpr Extended kRefOhm = 50;
constexpr Extended kTwoPi = 6.283185307179586477L;
constexpr Extended kDegPerRad = 57.295779513082320877L;
constexpr Extended kDbPerCount = 0.05859375L;
constexpr Extended kDegPerCount = 0.17578125L;

// One series-resonant branch of the default antenna: a fan dipole whose wires
// are cut for 80, 40, 20 and 10 m, all fed at the same point. Each wire is a
// series R-L-C with the given resonance, feed-point resistance and Q.
struct Branch {
    Extended F0Hz;
    Extended R;
    Extended Q;
};
constexpr Branch kFanDipole[] = {
    {3.6e6L, 42, 12},
    {7.1e6L, 55, 12},
    {14.2e6L, 47, 14},
    {28.5e6L, 60, 16},
};

std::complex<Extended> SeriesRlc(Extended r, Extended lH, Extended cF, Extended freqHz)
{
    const Extended w = kTwoPi * freqHz;
    Extended x = w * lH;
    if (cF > 0)
        x -= w > 0 ? 1 / (w * cF) : INFINITY;
    return {r, x};
}

Gamma AntennaGamma(Extended freqHz)
{
    if (freqHz <= 0)
        return {1, 0}; // every wire has a capacitor in series: open at DC
    std::complex<Extended> y = 0;
    for (const Branch& b : kFanDipole) {
        const Extended w0 = kTwoPi * b.F0Hz;
        const Extended l = b.Q * b.R / w0;
        const Extended c = 1 / (w0 * w0 * l);
        y += Extended(1) / SeriesRlc(b.R, l, c, freqHz);
    }
    return GammaOf(Extended(1) / y);
}

} // namespace

Gamma GammaOf(std::complex<Extended> z)
{
    if (!std::isfinite(z.real()) || !std::isfinite(z.imag()))
        return {1, 0};
    const std::complex<Extended> denominator = z + kRefOhm;
    if (denominator == std::complex<Extended>(0, 0))
        return {1, 0};
    return (z - kRefOhm) / denominator;
}

Gamma LoadGamma(const LoadModel& load, Extended freqHz)
{
    switch (load.Kind) {
    case LoadKind::Matched:
        return {0, 0};
    case LoadKind::Open:
        return {1, 0};
    case LoadKind::Short:
        return {-1, 0};
    case LoadKind::SeriesRLC: {
        const std::complex<Extended> z = SeriesRlc(load.R, load.LuH * 1e-6L, load.CpF * 1e-12L, std::fabs(freqHz));
        return GammaOf(z);
    }
    case LoadKind::Antenna:
        break;
    }
    return AntennaGamma(std::fabs(freqHz));
}

SampleCounts CountsOf(Gamma gamma)
{
    auto clamp = [](Extended v) -> int32_t {
        if (!(v > 0))
            return 0;
        if (v >= 1023)
            return 1023;
        return static_cast<int32_t>(llrintl(v));
    };
    SampleCounts counts;
    const Extended magnitude = std::abs(gamma);
    if (magnitude == 0) {
        counts.RL = 1023; // a perfect match: return loss beyond the scale
    } else {
        // A passive load reflects at most all: 0 dB return loss, which lies between two
        // counts (341.33). Never a count below it, which would read as a negative return loss.
        constexpr int32_t kLowestPassiveCount = 342;
        const Extended rlDb = -20 * log10l(magnitude);
        counts.RL = std::max(clamp((rlDb + 20) / kDbPerCount), kLowestPassiveCount);
    }
    const Extended phaseDeg = fabsl(atan2l(gamma.imag(), gamma.real())) * kDegPerRad;
    counts.Phase = clamp(phaseDeg / kDegPerCount);
    return counts;
}

void EncodeSample(SampleCounts counts, uint8_t out[4])
{
    out[0] = static_cast<uint8_t>(counts.Phase & 0xFF);
    out[1] = static_cast<uint8_t>((counts.Phase >> 8) & 0x03);
    out[2] = static_cast<uint8_t>(counts.RL & 0xFF);
    out[3] = static_cast<uint8_t>((counts.RL >> 8) & 0x03);
}

bool ParseLoadKind(std::string_view text, LoadKind& kind)
{
    if (text == "antenna")
        kind = LoadKind::Antenna;
    else if (text == "50")
        kind = LoadKind::Matched;
    else if (text == "open")
        kind = LoadKind::Open;
    else if (text == "short")
        kind = LoadKind::Short;
    else if (text == "rlc")
        kind = LoadKind::SeriesRLC;
    else
        return false;
    return true;
}

std::string LoadKindName(LoadKind kind)
{
    switch (kind) {
    case LoadKind::Antenna: return "antenna";
    case LoadKind::Matched: return "50";
    case LoadKind::Open: return "open";
    case LoadKind::Short: return "short";
    case LoadKind::SeriesRLC: return "rlc";
    }
    return "antenna";
}

} // namespace kestrin::sim
