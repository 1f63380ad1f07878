#include "measure/Bandwidth.h"

#include <cmath>
#include <utility>

#include "measure/NumberText.h"

namespace {

// Where the SWR crosses limit between sample a (above it) and sample b (at or below it).
Extended Crossing(const TVNAEntry& a, const TVNAEntry& b, Extended limit)
{
    const Extended rise = a.SWR - b.SWR;
    if (!(rise > 0))
        return b.FreqMHz;
    return b.FreqMHz + (a.FreqMHz - b.FreqMHz) * (b.SWR - limit) / -rise;
}

} // namespace

SwrBandwidth FindSwrBandwidth(const TVNAList& list, int32_t minSwrIndex, Extended limit)
{
    SwrBandwidth bw;
    const int32_t n = list.Count();
    if (minSwrIndex < 0 || minSwrIndex >= n || !(list.GetEntry(minSwrIndex)->SWR <= limit))
        return bw;
    bw.Found = true;
    auto within = [&](int32_t i) { return list.GetEntry(i)->SWR <= limit; };

    int32_t first = minSwrIndex;
    while (first > 0 && within(first - 1))
        --first;
    int32_t last = minSwrIndex;
    while (last < n - 1 && within(last + 1))
        ++last;
    bw.FirstIndex = first;
    bw.LastIndex = last;

    BandwidthEdge before, after; // at the sweep's start side and at its end side
    if (first == 0)
        before = {list.GetEntry(0)->FreqMHz, true};
    else
        before = {Crossing(*list.GetEntry(first - 1), *list.GetEntry(first), limit), false};
    if (last == n - 1)
        after = {list.GetEntry(n - 1)->FreqMHz, true};
    else
        after = {Crossing(*list.GetEntry(last + 1), *list.GetEntry(last), limit), false};
    // A sweep from a higher to a lower frequency has its lower edge at its end.
    if (after.FreqMHz < before.FreqMHz)
        std::swap(before, after);
    bw.Low = before;
    bw.High = after;
    return bw;
}

std::string LimitText(Extended limit)
{
    return FormatGeneral(limit);
}

std::string EdgeText(const BandwidthEdge& edge, bool lower)
{
    const std::string value = FormatFixed(edge.FreqMHz, 3);
    if (!edge.Open)
        return value;
    return (lower ? "< " : "> ") + value;
}

std::string BandwidthText(const SwrBandwidth& bw, Extended limit)
{
    std::string text = "SWR \xE2\x89\xA4 " + LimitText(limit) + ": ";
    if (!bw.Found)
        return text + "none";
    text += EdgeText(bw.Low, true) + " - " + EdgeText(bw.High, false) + " MHz";
    if (bw.Low.Open || bw.High.Open)
        return text;
    // The width of the span as the two edges read: whole kHz.
    const long long widthKHz = KHzFromMHz(bw.High.FreqMHz) - KHzFromMHz(bw.Low.FreqMHz);
    if (widthKHz < 1000)
        return text + " (" + std::to_string(widthKHz) + " kHz)";
    return text + " (" + FormatFixed(static_cast<Extended>(widthKHz) / 1000, 3) + " MHz)";
}
