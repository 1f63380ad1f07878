#pragma once
// Averaging of sweeps: per step the mean of the last N sweeps' return loss (dB) and phase
// (degrees), every other quantity computed from the two means as for a single sweep.
// Only sweeps of the same range, steps, DDS clock, R.L. calibration, phase scale and
// analyser model are averaged: a sweep that differs in any of them starts afresh.
#include <cstdint>
#include <deque>
#include <vector>

#include "measure/Extended.h"
#include "measure/Sweep.h"
#include "measure/VNAList.h"

struct AverageKey {
    int32_t StartKHz = 0;
    int32_t EndKHz = 0;
    int32_t Steps = 0;
    Extended TuningFactor = 0;
    Extended RLCalDb = 0;
    Extended PhaseScale = 0;
    int Model = -1;
    bool operator==(const AverageKey&) const = default;
};

// The choices the window offers: off (1), 2, 4, 8 and 16 sweeps.
inline constexpr int AverageChoices[] = {1, 2, 4, 8, 16};
inline constexpr int MaxAverageDepth = 16;

class SweepAverage {
public:
    // How many sweeps the mean takes, 1 (off) to MaxAverageDepth; the newest of the sweeps
    // held are kept.
    void SetDepth(int depth);
    int Depth() const { return depth_; }
    // Adds a sweep (key.Steps x 4 raw bytes); a sweep of another key drops the ones held.
    void Add(const AverageKey& key, const uint8_t* raw);
    // Drops every sweep held.
    void Clear() { sweeps_.clear(); }
    // Sweeps held: what the mean is of (at most Depth()).
    int Count() const { return static_cast<int>(sweeps_.size()); }
    bool Holds(const AverageKey& key) const { return !sweeps_.empty() && key_ == key; }

    // Rebuilds list as RebuildSweep does from the newest sweep (its raw counts, markers), with
    // every entry computed from the mean of the sweeps held, and the lowest SWR found in the
    // mean. Nothing held: an empty list.
    void Rebuild(TVNAList& list, MarkerState& marker1, MarkerState& marker2, int32_t& minSwrIndex) const;

private:
    int depth_ = 1;
    AverageKey key_;
    std::deque<std::vector<uint8_t>> sweeps_; // oldest first
};
