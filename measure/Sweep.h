#pragma once
// Decoding of raw analyser samples and the rebuild of the sample list with the
// marker mapping and the lowest-SWR search.
#include <cstdint>

#include "measure/Extended.h"
#include "measure/VNAList.h"

// Degrees per raw phase count: the 1024 counts span 0 to 180 degrees.
inline constexpr Extended DefaultPhaseScale = 0.17578125L;

// A count from its low byte and high part: 1, 2, 3 add 256, 512, 768; any other high byte adds nothing.
int32_t DecodeCount(uint8_t low, uint8_t high);

// Fills every computed field of e from one 4-byte sample (phase low, phase high,
// RL low, RL high) at freqMHz, by the formulas themselves. Every field comes out finite,
// whatever the sample: SWR 99999 when Rho is exactly 1; Xs 0 and Rs 99999 when gamma is
// exactly 1; Rs 0 when all that is left of it is rounding, and Q 9999 when Rs is 0;
// LuH and CpF 0 at 0 MHz, CpF 0 when Xs is 0.
void ComputeEntry(TVNAEntry& e, const uint8_t* sample, Extended freqMHz, Extended rlCalDb, Extended phaseScale);

// Fills every computed field of e (all but the raw counts, which it leaves alone) from a
// return loss in dB and the size of the phase in degrees, by the same formulas as a sample's:
// for a Touchstone point, or for the mean of several sweeps.
void ComputeEntryFromReflection(TVNAEntry& e, Extended freqMHz, Extended rlDb, Extended phaseDeg);

// Counts run from 0 to 1023.
constexpr int32_t CountRange = 1024;

// What a return-loss count gives under one calibration offset.
struct ReturnLossOfCount {
    Extended RLdB = 0;
    Extended Rho = 0;
    Extended SWR = 0;
};

// What a phase count gives under one phase scale: the phase and its cosine and sine.
struct PhaseOfCount {
    Extended PhaseDeg = 0;
    Extended Cos = 0;
    Extended Sin = 0;
};

// The values of every return-loss count for one calibration offset. Made once per offset:
// For() keeps the tables of the last few offsets used on the calling thread, so a window
// and a second sweep with an offset of its own both find theirs.
class ReturnLossTable {
public:
    explicit ReturnLossTable(Extended rlCalDb);
    Extended RlCalDb() const { return rlCalDb_; }
    const ReturnLossOfCount& operator[](int32_t count) const { return values_[static_cast<size_t>(count)]; }
    static const ReturnLossTable& For(Extended rlCalDb);

private:
    Extended rlCalDb_;
    ReturnLossOfCount values_[CountRange];
};

// The phase, cosine and sine of every phase count for one phase scale; For() as above.
class PhaseTable {
public:
    explicit PhaseTable(Extended phaseScale);
    Extended PhaseScale() const { return phaseScale_; }
    const PhaseOfCount& operator[](int32_t count) const { return values_[static_cast<size_t>(count)]; }
    static const PhaseTable& For(Extended phaseScale);

private:
    Extended phaseScale_;
    PhaseOfCount values_[CountRange];
};

// ComputeEntry with the per-count values taken from the tables (of its offset and scale);
// the result is the same to the last bit.
void ComputeEntry(TVNAEntry& e, const uint8_t* sample, Extended freqMHz, const ReturnLossTable& rl,
                  const PhaseTable& phase);

// What a rebuild needs from the window: the parameters of the sweep whose data is held.
struct SweepShape {
    int32_t StartKHz = 0;
    int32_t EndKHz = 0;
    int32_t Steps = 0;
};

// A marker's lasting frequency (0 = unset) and the index derived from it (-1 = none).
struct MarkerState {
    Extended FreqMHz = 0;
    int32_t Index = -1;
};

// Frequency of sample i: ((E - S) / (N * 1000)) * i + S / 1000 MHz.
Extended SampleFreqMHz(const SweepShape& shape, int32_t i);

// Maps a marker's frequency onto the sweep: resets it (index -1, frequency 0) when it
// lies outside S..E, else index = Round((M - S/1000) / step), limited to N - 1.
// Frequency 0 stays unset even when the sweep starts at 0 kHz; with start equal to
// end a marker at that frequency maps to sample 0.
void MapMarker(MarkerState& marker, const SweepShape& shape);

// Clears list and fills it with shape.Steps entries from raw (shape.Steps * 4 bytes),
// re-maps both markers and finds the lowest SWR (the last of equal values wins).
// Every entry is what ComputeEntry gives at SampleFreqMHz; the per-count values come
// from the tables of rlCalDb and phaseScale. Any raw buffer, shape and offset will do.
// minSwrIndex always names a sample of the new list (-1 only when it is empty), also
// when every SWR lies above 99999.
void RebuildSweep(TVNAList& list, const uint8_t* raw, const SweepShape& shape,
                  Extended rlCalDb, Extended phaseScale,
                  MarkerState& marker1, MarkerState& marker2, int32_t& minSwrIndex);
