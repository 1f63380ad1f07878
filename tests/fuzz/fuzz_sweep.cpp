// Fuzz target: the decoding of a raw sweep and the rebuild of the sample list, fed any
// sample bytes with any sweep shape, calibration offset and marker frequencies.
// Checked: one entry per step with counts in 0..1023 decoded as the analyser encodes them,
// every value finite and in its range (the stand-ins of Sweep.h where a formula has none),
// markers either mapped onto the nearest sample inside the sweep or reset, the lowest SWR
// naming the last of the lowest samples, and a second rebuild changing nothing.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <vector>

#include "fuzz/FuzzCheck.h"
#include "measure/Sweep.h"

namespace {

constexpr int32_t kMaxSteps = 4000;
constexpr Extended kPhaseScale = 0.17578125L; // 180 / 1024, as the window sets it
constexpr Extended kSwrStandIn = 99999;
constexpr Extended kQStandIn = 9999;

// A finite extended value from the input: a double scaled by a power of two, so that
// values far beyond double's range (which a typed calibration can reach) occur too.
Extended TakeExtended(kestrin::fuzz::Input& in)
{
    const double mantissa = in.Take<double>();
    const int exponent = in.Take<int16_t>() % 16384;
    const Extended value = ldexpl(static_cast<Extended>(mantissa), exponent);
    return std::isfinite(value) ? value : 0;
}

struct Result {
    std::vector<TVNAEntry> entries;
    MarkerState m1, m2;
    int32_t minSwr = -1;
};

Result Rebuild(TVNAList& list, const uint8_t* raw, const SweepShape& shape, Extended cal,
               MarkerState m1, MarkerState m2, int32_t minSwr)
{
    RebuildSweep(list, raw, shape, cal, kPhaseScale, m1, m2, minSwr);
    Result r{{}, m1, m2, minSwr};
    for (int32_t i = 0; i < list.Count(); ++i)
        r.entries.push_back(*list.GetEntry(i));
    return r;
}

bool Same(const TVNAEntry& a, const TVNAEntry& b)
{
    return a.RawRL == b.RawRL && a.RawPhase == b.RawPhase && a.FreqMHz == b.FreqMHz && a.Rho == b.Rho &&
           a.PhaseDeg == b.PhaseDeg && a.SWR == b.SWR && a.RLdB == b.RLdB && a.Xs == b.Xs && a.Rs == b.Rs &&
           a.Z == b.Z && a.LuH == b.LuH && a.CpF == b.CpF && a.Q == b.Q;
}

// A count as the analyser sends it: a high part of 1 to 3 adds 256 each; any other is ignored.
int32_t Count(uint8_t low, uint8_t high) { return high >= 1 && high <= 3 ? low + 256 * high : low; }

bool FiniteEntry(const TVNAEntry& e)
{
    for (Extended v : {e.FreqMHz, e.Rho, e.PhaseDeg, e.SWR, e.RLdB, e.Xs, e.Rs, e.Z, e.LuH, e.CpF, e.Q})
        if (!std::isfinite(v))
            return false;
    return true;
}

void CheckEntry(const TVNAEntry& e, const uint8_t* sample)
{
    FUZZ_CHECK(FiniteEntry(e));
    FUZZ_CHECK(e.RawPhase == Count(sample[0], sample[1]));
    FUZZ_CHECK(e.RawRL == Count(sample[2], sample[3]));
    FUZZ_CHECK(e.PhaseDeg >= 0 && e.PhaseDeg < 180);
    FUZZ_CHECK(e.Rho > 0 && e.SWR >= 0 && e.Xs >= 0 && e.Rs >= 0 && e.Z >= 0);
    FUZZ_CHECK(e.Q >= 0 && (e.Rs > 0 || e.Q == kQStandIn));
    FUZZ_CHECK(e.Rho != 1 || e.SWR == kSwrStandIn);
    if (e.FreqMHz == 0)
        FUZZ_CHECK(e.LuH == 0 && e.CpF == 0);
    if (e.Xs == 0)
        FUZZ_CHECK(e.CpF == 0);
}

// The marker after the rebuild, from its frequency before it.
void CheckMarker(const MarkerState& after, Extended before, const SweepShape& shape, int32_t n)
{
    const Extended startMHz = static_cast<Extended>(shape.StartKHz) / 1000;
    const Extended endMHz = static_cast<Extended>(shape.EndKHz) / 1000;
    const bool inside = n > 0 && before != 0 && before >= startMHz && before <= endMHz;
    if (!inside) {
        FUZZ_CHECK(after.Index == -1 && after.FreqMHz == 0);
        return;
    }
    FUZZ_CHECK(after.FreqMHz == before);
    FUZZ_CHECK(after.Index >= 0 && after.Index < n);
    // The nearest sample; beyond the last one (within the last step below the end) the last.
    const Extended step = SampleFreqMHz(shape, 1) - SampleFreqMHz(shape, 0);
    const Extended at = SampleFreqMHz(shape, after.Index);
    const Extended slack = fabsl(step) * 1e-9L + fabsl(before) * 1e-15L;
    if (after.Index == n - 1 && before >= at)
        return;
    FUZZ_CHECK(fabsl(at - before) <= fabsl(step) / 2 + slack);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    kestrin::fuzz::Input in(data, size);
    SweepShape shape;
    shape.StartKHz = in.Take<int32_t>();
    shape.EndKHz = in.Take<int32_t>();
    const int16_t steps = in.Take<int16_t>();
    shape.Steps = steps > kMaxSteps ? steps % (kMaxSteps + 1) : steps;
    const Extended cal = TakeExtended(in);
    MarkerState m1{TakeExtended(in), in.Take<int16_t>()};
    MarkerState m2{TakeExtended(in), in.Take<int16_t>()};
    const int32_t minSwrBefore = in.Take<int16_t>();

    std::array<uint8_t, kMaxSteps * 4> raw{};
    std::memcpy(raw.data(), in.Rest(), std::min(raw.size(), in.RestSize()));

    TVNAList list;
    const Result r = Rebuild(list, raw.data(), shape, cal, m1, m2, minSwrBefore);
    const int32_t n = std::max(shape.Steps, 0);
    FUZZ_CHECK(static_cast<int32_t>(r.entries.size()) == n);
    for (int32_t i = 0; i < n; ++i) {
        CheckEntry(r.entries[i], raw.data() + 4 * i);
        FUZZ_CHECK(r.entries[i].FreqMHz == SampleFreqMHz(shape, i));
    }
    CheckMarker(r.m1, m1.FreqMHz, shape, n);
    CheckMarker(r.m2, m2.FreqMHz, shape, n);

    if (n == 0) {
        FUZZ_CHECK(r.minSwr == -1);
    } else {
        FUZZ_CHECK(r.minSwr >= 0 && r.minSwr < n);
        const Extended lowest = r.entries[r.minSwr].SWR;
        for (int32_t i = 0; i < n; ++i)
            FUZZ_CHECK(r.entries[i].SWR > lowest || (r.entries[i].SWR == lowest && i <= r.minSwr));
    }

    // The next redraw rebuilds from the same data and the markers as left: nothing moves.
    const Result again = Rebuild(list, raw.data(), shape, cal, r.m1, r.m2, r.minSwr);
    FUZZ_CHECK(again.entries.size() == r.entries.size());
    for (size_t i = 0; i < r.entries.size(); ++i)
        FUZZ_CHECK(Same(again.entries[i], r.entries[i]));
    FUZZ_CHECK(again.m1.Index == r.m1.Index && again.m1.FreqMHz == r.m1.FreqMHz);
    FUZZ_CHECK(again.m2.Index == r.m2.Index && again.m2.FreqMHz == r.m2.FreqMHz);
    FUZZ_CHECK(again.minSwr == r.minSwr);
    return 0;
}
