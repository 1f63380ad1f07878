#pragma once
// The SWR bandwidth: around the lowest SWR, the span of the sweep where the SWR stays at or
// below a limit, each edge found by linear interpolation of the SWR between the two samples
// that straddle the limit.
#include <cstdint>
#include <string>

#include "measure/Extended.h"
#include "measure/VNAList.h"

// The SWR limits the window offers; 0 is off.
inline constexpr Extended DefaultBandwidthSwr = 2;

struct BandwidthEdge {
    Extended FreqMHz = 0;
    // The SWR does not cross the limit inside the sweep on this side: FreqMHz is the sweep's
    // first or last sample.
    bool Open = false;
};

struct SwrBandwidth {
    bool Found = false; // false: the lowest SWR lies above the limit (or there is no sweep)
    BandwidthEdge Low;  // the lower frequency, whichever way the sweep runs
    BandwidthEdge High;
    // Index of the samples at the ends of the span (lowIndex <= highIndex, in sample order).
    int32_t FirstIndex = -1;
    int32_t LastIndex = -1;
};

// The span around sample minSwrIndex of list (the Lowest SWR row's sample) where SWR <= limit.
SwrBandwidth FindSwrBandwidth(const TVNAList& list, int32_t minSwrIndex, Extended limit);

// The limit as the texts write it: "2", "1.5".
std::string LimitText(Extended limit);

// One edge: "13.952", "< 0.100" at the bottom of the sweep, "> 14.350" at its top.
std::string EdgeText(const BandwidthEdge& edge, bool lower);

// "SWR ≤ 2: 13.952 - 14.470 MHz (518 kHz)" (UTF-8); with an edge at the sweep's end
// "SWR ≤ 2: < 0.100 - 14.470 MHz" (no width); "SWR ≤ 2: none". The width is the difference of
// the two edges as shown (whole kHz): in kHz below 1 MHz, in MHz with three decimals from 1 MHz.
std::string BandwidthText(const SwrBandwidth& bandwidth, Extended limit);
