#pragma once
// A setup file: the sweep settings, markers, traces, calculators and frequency scale a person
// saves to set the same job up again. A readable text, one "key = value" a line under the
// line "Kestrin VNA setup 1"; '.' as the decimal point and frequencies in MHz. Reading checks
// every value by the rules of the window's entry fields, with their messages; unknown keys are
// passed over, so that a newer file opens here. Widget-free, for the window and the tool alike.
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "measure/Extended.h"

namespace kestrin {

inline constexpr const char* SetupFileSuffix = "kvsetup";

// The six traces in the order of the window's check boxes.
enum SetupTrace { TraceSwr, TraceRl, TracePhase, TraceZ, TraceXs, TraceRs, SetupTraceCount };

// One calculator: which quantity it finds and the known value it finds it from.
struct SetupCalculator {
    std::optional<bool> FindsL; // true: L (uH) from a C in pF; false: C (pF) from an L in uH
    std::optional<Extended> Value;
    bool operator==(const SetupCalculator&) const = default;
};

// What a setup holds; a value left out leaves that setting as it is.
struct SweepSetup {
    std::optional<int> Model; // index into AnalyserModels
    std::optional<int32_t> StartKHz;
    std::optional<int32_t> EndKHz;
    std::optional<int32_t> Steps;
    std::optional<int32_t> DdsClockHz;
    std::optional<Extended> RLCalDb;
    std::optional<Extended> Marker1MHz; // 0: no marker
    std::optional<Extended> Marker2MHz;
    std::array<std::optional<bool>, SetupTraceCount> Traces;
    SetupCalculator Calculator1;
    SetupCalculator Calculator2;
    std::optional<bool> FrequencyScale;
    std::optional<int> Average;           // sweeps averaged: 1 (off), 2, 4, 8 or 16
    std::optional<Extended> BandwidthSwr; // the SWR bandwidth's limit: 0 (off), 1.5, 2 or 3
    bool operator==(const SweepSetup&) const = default;
};

// The file's text: the first line, then every value that is set, in a fixed order.
std::string SetupText(const SweepSetup& setup);

struct SetupReading {
    SweepSetup Setup;
    std::string Error; // empty when read; else "Line 4: Steps must be between 10 and 4000."
};

// Reads a setup's text. Any bad line makes the whole reading fail with the first fault.
SetupReading ReadSetupText(std::string_view text);

// Reads the setup file at path. On failure Error is the whole message, naming the file by
// its full path: "Cannot open /home/x/40m.kvsetup: Line 4: Steps must be ...", or the
// system's reason when it cannot be read.
SetupReading ReadSetupFile(const std::string& path);

} // namespace kestrin
