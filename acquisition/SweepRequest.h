#pragma once
// The sweep request the analyser understands: four lines, each ended by one
// carriage return: "0", the start tuning word, the step count, the step tuning word.
#include <array>
#include <cstdint>
#include <string>

#include "measure/Extended.h"
#include "measure/Sweep.h"

// A sweep's settings: those the window asks for, the worker's copy it sweeps with, and
// those the sweep whose data is held was requested with.
struct SweepSettings : SweepShape {
    Extended TuningFactor = 0; // DDS tuning-word units per kHz: 2^32 x 1000 / clock in Hz
};

struct SweepWords {
    int64_t Start = 0; // Round(startKHz x tuningFactor)
    int64_t Step = 0;  // Round((endKHz - startKHz) x tuningFactor / steps); negative when end < start
};

// The difference is formed in 32-bit integers, product and quotient in extended
// precision, and the result rounded half-to-even to a signed 64-bit integer.
SweepWords EncodeSweep(int32_t startKHz, int32_t endKHz, int32_t steps, Extended tuningFactor);
SweepWords EncodeSweep(const SweepSettings& settings);

// The four request lines in sending order, each with its carriage return.
std::array<std::string, 4> RequestLines(const SweepWords& words, int32_t steps);

// Tuning-word units per kHz of a DDS clocked at clockHz: 2^32 x 1000 / clock.
Extended TuningFactorForClock(int32_t clockHz);
// The clock in Hz whose tuning factor that is, rounded to a whole number.
int64_t ClockForTuningFactor(Extended tuningFactor);
