#include "acquisition/SettingsRules.h"

namespace kestrin {

std::string FrequencyRejection(long long kHz)
{
    if (kHz < 0)
        return "Frequency can not be lower than 0 MHz.";
    if (kHz > MaxFrequencyKHz)
        return "Frequency can not be higher than 550 MHz.";
    return {};
}

std::string StepsRejection(long long steps)
{
    if (steps < MinSteps || steps > MaxSteps)
        return "Steps must be between 10 and 4000.";
    return {};
}

std::string DdsClockRejection(long long clockHz)
{
    if (clockHz < MinDdsClockHz || clockHz > MaxDdsClockHz)
        return "DDS frequency must be between 1 and 1300000000 Hz.";
    return {};
}

} // namespace kestrin
