#pragma once
// Loads the simulated analyser can measure, and how it encodes a reflection
// coefficient into the 4 bytes of one sample.
#include <complex>
#include <cstdint>
#include <string>
#include <string_view>

#include "measure/Extended.h"

namespace kestrin::sim {

using Gamma = std::complex<Extended>;

enum class LoadKind { Antenna, Matched, Open, Short, SeriesRLC };

struct LoadModel {
    LoadKind Kind = LoadKind::Antenna;
    // Series R-L-C: resistance in ohm, inductance in microhenry (0 = none),
    // capacitance in picofarad (0 = none, i.e. a plain wire in its place).
    Extended R = 50;
    Extended LuH = 0;
    Extended CpF = 0;
};

// Reflection coefficient of the load at freqHz against 50 ohm.
Gamma LoadGamma(const LoadModel& load, Extended freqHz);

// Reflection coefficient of an impedance against 50 ohm.
Gamma GammaOf(std::complex<Extended> z);

// The raw counts of a reflection coefficient: return loss count
// Round((RL + 20) / 0.05859375) with RL = -20 log10 |gamma|, phase count
// Round(|arg gamma| in degrees / 0.17578125), each limited to 0..1023; the return loss
// count is at least 342, the lowest that reads as 0 dB or more (a passive load).
struct SampleCounts {
    int32_t Phase = 0;
    int32_t RL = 0;
};
SampleCounts CountsOf(Gamma gamma);

// Phase low byte, phase high part, return-loss low byte, return-loss high part.
void EncodeSample(SampleCounts counts, uint8_t out[4]);

// "antenna", "50", "open", "short", "rlc"; nothing else.
bool ParseLoadKind(std::string_view text, LoadKind& kind);
std::string LoadKindName(LoadKind kind);

} // namespace kestrin::sim
