#include "measure/Sweep.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <vector>

namespace {

constexpr Extended kDbPerCount = 0.05859375L;    // 60 / 1024
constexpr Extended kDegPerRad = 57.295779513082320877L;
constexpr Extended kRefOhm = 50;
constexpr Extended kTwoPi = 6.283185307179586477L;
constexpr Extended kQNoResistance = 9999;

// 2^-56: 128 units of the last place of the 64-bit mantissa at 1, well above what rounding
// leaves of 1 - |gamma|^2 for a lossless load (at most one unit over every phase count), and
// far below any real loss: it is the numerator of a return loss of about 6e-17 dB, some
// 1e15 times less than one return-loss count. In ohm: an Rs below 50 x 2^-56 / |1 - gamma|^2
// (2e-16 ohm at the short, 7e-11 ohm a phase count away from the open) is noise.
constexpr Extended kResistanceNoise = 1.0L / (1ULL << 56);

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

namespace {

ReturnLossOfCount ReturnLossOfDb(Extended rlDb)
{
    ReturnLossOfCount v;
    v.RLdB = FiniteOr(rlDb, 0);
    const Extended rlForRho = std::fmin(std::fmax(v.RLdB, -kRlLimitDb), kRlLimitDb);
    v.Rho = 1 / powl(10, rlForRho / 20);
    v.SWR = v.Rho == 1 ? kUnbounded : FiniteOr(fabsl((v.Rho + 1) / (1 - v.Rho)), kUnbounded);
    return v;
}

ReturnLossOfCount ReturnLossValues(int32_t count, Extended rlCalDb)
{
    return ReturnLossOfDb(count * kDbPerCount - 20 + rlCalDb);
}

PhaseOfCount PhaseOfDegrees(Extended phaseDeg)
{
    PhaseOfCount v;
    v.PhaseDeg = FiniteOr(phaseDeg, 0);
    const Extended theta = v.PhaseDeg / kDegPerRad;
    v.Cos = cosl(theta);
    v.Sin = sinl(theta);
    return v;
}

PhaseOfCount PhaseValues(int32_t count, Extended phaseScale)
{
    return PhaseOfDegrees(count * phaseScale);
}

// The fields that depend on both counts and on the frequency. Worked in locals and
// stored once, so that the values stay in registers.
void ComputeFromCounts(TVNAEntry& e, Extended freqMHz, const ReturnLossOfCount& rl, const PhaseOfCount& phase)
{
    const Extended rho = rl.Rho;
    const Extended gr = phase.Cos * rho;
    const Extended gi = phase.Sin * rho;
    const Extended d = (1 - gr) * (1 - gr) + gi * gi;
    Extended xs, rs;
    if (d == 0) {
        // gamma is exactly 1: an ideal open, no reactance and unbounded resistance.
        xs = 0;
        rs = kUnbounded;
    } else {
        xs = FiniteOr(fabsl(gi * 2 / d * kRefOhm), kUnbounded);
        // Rs = 50 ohm x (1 - |gamma|^2) / |1 - gamma|^2. For a lossless load |gamma| is 1
        // and the numerator 0, but cos^2 + sin^2 rounds to within a unit or two of the last
        // place at 1 (2^-63), and divided by a small |1 - gamma|^2 that leaves Rs at up to
        // some 1e-13 ohm. A numerator within kResistanceNoise of 0 is that rounding: Rs 0.
        const Extended lossless = 1 - gr * gr - gi * gi;
        rs = fabsl(lossless) <= kResistanceNoise ? 0 : FiniteOr(fabsl(lossless / d * kRefOhm), kUnbounded);
    }

    const Extended q = rs > 0 ? FiniteOr(fabsl(xs / rs), kQNoResistance) : kQNoResistance;

    // At 0 MHz, and for C when there is no reactance, no finite L or C exists;
    // the read-outs then show 0.
    const Extended f = FiniteOr(freqMHz, 0);
    const Extended w = kTwoPi * f;

    e.FreqMHz = f;
    e.RLdB = rl.RLdB;
    e.Rho = rho;
    e.SWR = rl.SWR;
    e.PhaseDeg = phase.PhaseDeg;
    e.Xs = xs;
    e.Rs = rs;
    e.Z = FiniteOr(sqrtl(rs * rs + xs * xs), kUnbounded);
    e.Q = q;
    e.LuH = w != 0 ? FiniteOr(xs / w, 0) : 0;
    e.CpF = (w != 0 && xs != 0) ? FiniteOr(1 / (w * xs) * 1000000, 0) : 0;
}

// Equal keys make equal tables; a NaN offset or scale matches a NaN.
bool SameKey(Extended a, Extended b)
{
    return a == b || (std::isnan(a) && std::isnan(b));
}

// The tables of the last few keys used on this thread, the latest first. A reference
// handed out stays valid until that many other keys have been asked for since.
template <class Table, Extended (Table::*KeyOf)() const>
const Table& KeptTable(Extended key)
{
    constexpr size_t kKept = 4;
    thread_local std::vector<std::unique_ptr<Table>> kept;
    auto hit = std::find_if(kept.begin(), kept.end(), [key](const auto& t) { return SameKey(((*t).*KeyOf)(), key); });
    if (hit == kept.end()) {
        if (kept.size() == kKept)
            kept.pop_back();
        kept.insert(kept.begin(), std::make_unique<Table>(key));
    } else {
        std::rotate(kept.begin(), hit, hit + 1);
    }
    return *kept.front();
}

} // namespace

void ComputeEntry(TVNAEntry& e, const uint8_t* sample, Extended freqMHz, Extended rlCalDb, Extended phaseScale)
{
    e.RawPhase = DecodeCount(sample[0], sample[1]);
    e.RawRL = DecodeCount(sample[2], sample[3]);
    ComputeFromCounts(e, freqMHz, ReturnLossValues(e.RawRL, rlCalDb), PhaseValues(e.RawPhase, phaseScale));
}

void ComputeEntry(TVNAEntry& e, const uint8_t* sample, Extended freqMHz, const ReturnLossTable& rl,
                  const PhaseTable& phase)
{
    e.RawPhase = DecodeCount(sample[0], sample[1]);
    e.RawRL = DecodeCount(sample[2], sample[3]);
    ComputeFromCounts(e, freqMHz, rl[e.RawRL], phase[e.RawPhase]);
}

void ComputeEntryFromReflection(TVNAEntry& e, Extended freqMHz, Extended rlDb, Extended phaseDeg)
{
    ComputeFromCounts(e, freqMHz, ReturnLossOfDb(rlDb), PhaseOfDegrees(phaseDeg));
}

ReturnLossTable::ReturnLossTable(Extended rlCalDb) : rlCalDb_(rlCalDb)
{
    for (int32_t count = 0; count < CountRange; ++count)
        values_[count] = ReturnLossValues(count, rlCalDb);
}

const ReturnLossTable& ReturnLossTable::For(Extended rlCalDb)
{
    return KeptTable<ReturnLossTable, &ReturnLossTable::RlCalDb>(rlCalDb);
}

PhaseTable::PhaseTable(Extended phaseScale) : phaseScale_(phaseScale)
{
    for (int32_t count = 0; count < CountRange; ++count)
        values_[count] = PhaseValues(count, phaseScale);
}

const PhaseTable& PhaseTable::For(Extended phaseScale)
{
    return KeptTable<PhaseTable, &PhaseTable::PhaseScale>(phaseScale);
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
    const ReturnLossTable& rl = ReturnLossTable::For(rlCalDb);
    const PhaseTable& phase = PhaseTable::For(phaseScale);
    // SampleFreqMHz with its two terms formed once.
    const Extended step = StepMHz(shape);
    const Extended startMHz = static_cast<Extended>(shape.StartKHz) / 1000;
    Extended lowest = 0;
    minSwrIndex = -1;
    for (int32_t i = 0; i < n; ++i) {
        TVNAEntry* e = list.NewEntry();
        ComputeEntry(*e, raw + 4 * static_cast<size_t>(i), step * i + startMHz, rl, phase);
        if (minSwrIndex < 0 || e->SWR <= lowest) {
            lowest = e->SWR;
            minSwrIndex = i;
        }
    }
}
