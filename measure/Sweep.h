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
// RL low, RL high) at freqMHz. Every field comes out finite, whatever the sample:
// SWR 99999 when Rho is exactly 1; Xs 0 and Rs 99999 when gamma is exactly 1; Q at
// most 9999 (the Q of a lossless load);
// LuH and CpF 0 at 0 MHz, CpF 0 when Xs is 0.
void ComputeEntry(TVNAEntry& e, const uint8_t* sample, Extended freqMHz, Extended rlCalDb, Extended phaseScale);

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
// minSwrIndex always names a sample of the new list (-1 only when it is empty), also
// when every SWR lies above 99999.
void RebuildSweep(TVNAList& list, const uint8_t* raw, const SweepShape& shape,
                  Extended rlCalDb, Extended phaseScale,
                  MarkerState& marker1, MarkerState& marker2, int32_t& minSwrIndex);
