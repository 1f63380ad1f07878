#pragma once
// The sweep settings a person may ask for: their start-up values, their ranges and the
// message that refuses a value outside them. The window's entry fields and the
// command-line tool both check through here.
#include <cstdint>
#include <string>

#include "measure/Extended.h"

namespace kestrin {

inline constexpr int32_t DefaultStartKHz = 100;
inline constexpr int32_t DefaultEndKHz = 180000;
inline constexpr int32_t DefaultSteps = 500;
inline constexpr int32_t DefaultDdsClockHz = 400000000;
inline constexpr Extended DefaultRLCalDb = 0;

inline constexpr int32_t MaxFrequencyKHz = 550000;
inline constexpr int32_t MinSteps = 10;
inline constexpr int32_t MaxSteps = 4000;
inline constexpr int32_t MinDdsClockHz = 1;
inline constexpr int32_t MaxDdsClockHz = 1300000000;

// The analyser models, in the order the window offers them: choosing one sets the end, the
// steps and the DDS clock below, and the return-loss calibration back to 0.
struct AnalyserModel {
    const char* Name;
    int32_t EndKHz;
    int32_t Steps;
    int32_t DdsClockHz;
};
inline constexpr AnalyserModel AnalyserModels[] = {
    {"Corvel - 180MHz", 180000, 500, 400000000},
    {"Corvel - 500MHz", 500000, 500, 1250000000},
};

// Each returns the message that refuses the value, or an empty text when it is accepted.
// A frequency in kHz, as rounded from the MHz entered and kept at full size.
std::string FrequencyRejection(long long kHz);
std::string StepsRejection(long long steps);
std::string DdsClockRejection(long long clockHz);

} // namespace kestrin
