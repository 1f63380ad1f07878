#include "measure/SweepAverage.h"

#include <algorithm>

void SweepAverage::SetDepth(int depth)
{
    depth_ = std::clamp(depth, 1, MaxAverageDepth);
    while (Count() > depth_)
        sweeps_.pop_front();
}

void SweepAverage::Add(const AverageKey& key, const uint8_t* raw)
{
    if (!(key_ == key))
        sweeps_.clear();
    key_ = key;
    const size_t bytes = static_cast<size_t>(std::max<int32_t>(key.Steps, 0)) * 4;
    sweeps_.emplace_back(raw, raw + bytes);
    while (Count() > depth_)
        sweeps_.pop_front();
}

void SweepAverage::Rebuild(TVNAList& list, MarkerState& marker1, MarkerState& marker2, int32_t& minSwrIndex) const
{
    if (sweeps_.empty()) {
        list.ClearEntries();
        minSwrIndex = -1;
        return;
    }
    const SweepShape shape{key_.StartKHz, key_.EndKHz, key_.Steps};
    RebuildSweep(list, sweeps_.back().data(), shape, key_.RLCalDb, key_.PhaseScale, marker1, marker2, minSwrIndex);
    if (sweeps_.size() < 2)
        return;

    const ReturnLossTable& rl = ReturnLossTable::For(key_.RLCalDb);
    const PhaseTable& phase = PhaseTable::For(key_.PhaseScale);
    const Extended count = static_cast<Extended>(sweeps_.size());
    Extended lowest = 0;
    minSwrIndex = -1;
    for (int32_t i = 0; i < list.Count(); ++i) {
        Extended rlSum = 0;
        Extended phaseSum = 0;
        for (const std::vector<uint8_t>& raw : sweeps_) {
            const uint8_t* sample = raw.data() + 4 * static_cast<size_t>(i);
            rlSum += rl[DecodeCount(sample[2], sample[3])].RLdB;
            phaseSum += phase[DecodeCount(sample[0], sample[1])].PhaseDeg;
        }
        TVNAEntry& e = *list.GetEntry(i);
        ComputeEntryFromReflection(e, e.FreqMHz, rlSum / count, phaseSum / count);
        // The lowest SWR as a single sweep's: the last of equal values wins.
        if (minSwrIndex < 0 || e.SWR <= lowest) {
            lowest = e.SWR;
            minSwrIndex = i;
        }
    }
}
