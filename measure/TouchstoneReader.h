#pragma once
// Reading a one-port Touchstone file, as circuit simulators, other analyser programs and this
// program write them, into what a sweep has: return loss and the size of the phase per
// frequency. Widget-free.
#include <string>
#include <string_view>
#include <vector>

#include "measure/Extended.h"
#include "measure/VNAList.h"

struct TouchstonePoint {
    Extended FreqMHz = 0;
    Extended RLdB = 0;     // -20 log10 |S11| at 50 ohm
    Extended PhaseDeg = 0; // the size of S11's angle, 0 to 180 degrees
};

struct TouchstoneReading {
    std::vector<TouchstonePoint> Points; // ascending frequency
    std::string Error; // empty when read; else "Line 7: a frequency must be larger than the one before it."
};

// The most points a reference holds: far more than any analyser sweeps, few enough to draw
// at once.
inline constexpr size_t MaxTouchstonePoints = 100000;

// Reads the text of a one-port file (version 1, or version 2 with one port): comments from
// '!', blank lines, blanks and tabs anywhere; the option line ("# MHz S MA R 50") with its
// words in any order and case (Hz, kHz, MHz, GHz; S; MA, DB, RI; R and a resistance), the
// format's defaults (GHz S MA R 50) where it is missing or leaves one out. Values referred to
// another resistance than 50 ohm are turned into the reflection at 50 ohm. Any bad line makes
// the whole reading fail with the first fault.
TouchstoneReading ReadTouchstoneText(std::string_view text);

// The port count a file name's suffix gives: ".s1p" 1, ".S2P" 2; 0 when the name has no
// suffix of that form.
int TouchstonePortsOfName(std::string_view name);

// Fills list with one entry per point, every quantity computed as for a sample of a sweep.
void TouchstoneList(const std::vector<TouchstonePoint>& points, TVNAList& list);
