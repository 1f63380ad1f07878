#include "acquisition/SweepRequest.h"

#include <cmath>

SweepWords EncodeSweep(int32_t startKHz, int32_t endKHz, int32_t steps, Extended tuningFactor)
{
    SweepWords words;
    words.Start = llrintl(static_cast<Extended>(startKHz) * tuningFactor);
    // 32-bit difference, as the range limits keep it far from overflow.
    const int32_t span = static_cast<int32_t>(static_cast<uint32_t>(endKHz) - static_cast<uint32_t>(startKHz));
    if (steps != 0)
        words.Step = llrintl(static_cast<Extended>(span) * tuningFactor / static_cast<Extended>(steps));
    return words;
}

SweepWords EncodeSweep(const SweepSettings& settings)
{
    return EncodeSweep(settings.StartKHz, settings.EndKHz, settings.Steps, settings.TuningFactor);
}

std::array<std::string, 4> RequestLines(const SweepWords& words, int32_t steps)
{
    return {"0\r", std::to_string(words.Start) + "\r", std::to_string(steps) + "\r",
            std::to_string(words.Step) + "\r"};
}

Extended TuningFactorForClock(int32_t clockHz)
{
    return 4294967296000.0L / static_cast<Extended>(clockHz);
}

int64_t ClockForTuningFactor(Extended tuningFactor)
{
    if (!(tuningFactor > 0) || !std::isfinite(tuningFactor))
        return 0;
    return llrintl(4294967296000.0L / tuningFactor);
}
