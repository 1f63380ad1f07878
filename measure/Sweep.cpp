#include "measure/Sweep.h"

#include <cmath>

namespace {

constexpr Extended kDbPerCount = 0.05859375L;    // 60 / 1024
constexpr Extended kDegPerRad = 57.295779513082320877L;
constexpr Extended kRefOhm = 50;
constexpr Extended kTwoPi = 6.283185307179586477L;
constexpr Extended kQNoResistance = 9999;

// The stand-in where the formulas divide by zero. An SWR of 99999 and a series
// resistance of 99999 ohm are what a perfect open reads as; both lie beyond the
// top of their plot scales, so the traces clip them like any very high value.
constexpr Extended kUnbounded = 99999;

// Return loss beyond +-2000 dB (only reachable with an absurd calibration offset)
// is limited there for the magnitude, which keeps every product below overflow.
constexpr Extended kRlLimitDb = 2000;

Extended FiniteOr(Extended value, Extended standIn)
{
    return std::isfinite(value) ? value : standIn;
}

} // namespace

int32_t DecodeCount(uint8_t low, uint8_t high)
{
    if (high >= 1 && high <= 3)
        return low + 256 * high;
    return low;
}

void ComputeEntry(TVNAEntry& e, const uint8_t* sample, Extended freqMHz, Extended rlCalDb, Extended phaseScale)
{
    e.FreqMHz = FiniteOr(freqMHz, 0);
    e.RawPhase = DecodeCount(sample[0], sample[1]);
    e.RawRL = DecodeCount(sample[2], sample[3]);

    e.RLdB = FiniteOr(e.RawRL * kDbPerCount - 20 + rlCalDb, 0);
    const Extended rlForRho = std::fmin(std::fmax(e.RLdB, -kRlLimitDb), kRlLimitDb);
    e.Rho = 1 / powl(10, rlForRho / 20);
    e.PhaseDeg = FiniteOr(e.RawPhase * phaseScale, 0);

    const Extended theta = e.PhaseDeg / kDegPerRad;
    const Extended gr = cosl(theta) * e.Rho;
    const Extended gi = sinl(theta) * e.Rho;
    const Extended d = (1 - gr) * (1 - gr) + gi * gi;
    if (d == 0) {
        // gamma is exactly 1: an ideal open, no reactance and unbounded resistance.
        e.Xs = 0;
        e.Rs = kUnbounded;
    } else {
        e.Xs = FiniteOr(fabsl(gi * 2 / d * kRefOhm), kUnbounded);
        e.Rs = FiniteOr(fabsl((1 - gr * gr - gi * gi) / d * kRefOhm), kUnbounded);
    }

    e.SWR = e.Rho == 1 ? kUnbounded : FiniteOr(fabsl((e.Rho + 1) / (1 - e.Rho)), kUnbounded);
    e.Z = FiniteOr(sqrtl(e.Rs * e.Rs + e.Xs * e.Xs), kUnbounded);
    // Rounding leaves a pure reactance with an Rs of some 1e-18 ohm instead of 0; its Q
    // is as unbounded as that of Rs 0, so no Q reads above the 9999 of a lossless load.
    e.Q = e.Rs > 0 ? std::fmin(fabsl(e.Xs / e.Rs), kQNoResistance) : kQNoResistance;

    // At 0 MHz, and for C when there is no reactance, no finite L or C exists;
    // the read-outs then show 0.
    const Extended w = kTwoPi * e.FreqMHz;
    e.LuH = w != 0 ? FiniteOr(e.Xs / w, 0) : 0;
    e.CpF = (w != 0 && e.Xs != 0) ? FiniteOr(1 / (w * e.Xs) * 1000000, 0) : 0;
}

namespace {

// Sweep width, N x 1000 and start as the sweep computes them (widened so that no
// combination of settings can overflow).
Extended StepMHz(const SweepShape& shape)
{
    const int64_t span = int64_t{shape.EndKHz} - shape.StartKHz;
    const int64_t perStep = int64_t{shape.Steps} * 1000;
    if (perStep == 0)
        return 0;
    return static_cast<Extended>(span) / static_cast<Extended>(perStep);
}

} // namespace

Extended SampleFreqMHz(const SweepShape& shape, int32_t i)
{
    return StepMHz(shape) * i + static_cast<Extended>(shape.StartKHz) / 1000;
}

void MapMarker(MarkerState& marker, const SweepShape& shape)
{
    const Extended startMHz = static_cast<Extended>(shape.StartKHz) / 1000;
    const Extended endMHz = static_cast<Extended>(shape.EndKHz) / 1000;
    // Frequency 0 always means unset, also on a sweep that starts at 0 kHz.
    if (marker.FreqMHz == 0 || shape.Steps <= 0 || !(marker.FreqMHz >= startMHz) || marker.FreqMHz > endMHz) {
        marker.FreqMHz = 0;
        marker.Index = -1;
        return;
    }
    const Extended step = StepMHz(shape);
    if (step == 0) {
        // Start equals end: every sample lies at the marker's frequency.
        marker.Index = 0;
        return;
    }
    const Extended position = (marker.FreqMHz - startMHz) / step;
    const Extended last = static_cast<Extended>(shape.Steps - 1);
    marker.Index = position >= last ? shape.Steps - 1 : static_cast<int32_t>(llrintl(position));
}

void RebuildSweep(TVNAList& list, const uint8_t* raw, const SweepShape& shape,
                  Extended rlCalDb, Extended phaseScale,
                  MarkerState& marker1, MarkerState& marker2, int32_t& minSwrIndex)
{
    list.ClearEntries();
    const int32_t n = shape.Steps > 0 ? shape.Steps : 0;
    list.Reserve(n);

    MapMarker(marker1, shape);
    MapMarker(marker2, shape);

    // The last of equal values wins. Every SWR counts, also one above 99999 (only
    // possible with a huge calibration offset), so the index always names a sample.
    Extended lowest = 0;
    minSwrIndex = -1;
    for (int32_t i = 0; i < n; ++i) {
        TVNAEntry* e = list.NewEntry();
        ComputeEntry(*e, raw + 4 * static_cast<size_t>(i), SampleFreqMHz(shape, i), rlCalDb, phaseScale);
        if (minSwrIndex < 0 || e->SWR <= lowest) {
            lowest = e->SWR;
            minSwrIndex = i;
        }
    }
}
