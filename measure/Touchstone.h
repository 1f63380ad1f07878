#pragma once
// The sweep as a one-port Touchstone file (version 1.1), for circuit simulators and
// matching calculators: |S11| and its angle over frequency in MHz, 50 ohm reference.
#include <cstdint>
#include <string>

#include "measure/Extended.h"
#include "measure/Sweep.h"
#include "measure/VNAList.h"

// Where a sweep came from, for the comment lines at the top of the file.
struct TouchstoneSource {
    std::string Program; // name and version
    std::string SavedAt; // ISO 8601, UTC
    std::string Port;    // the device path, or the simulated analyser's name
    SweepShape Shape;    // start, end and steps the sweep was requested with
    int64_t DdsClockHz = 0;
    Extended RLCalDb = 0; // the return-loss calibration the values were computed with
    int Averaged = 1;     // sweeps in the mean the values are; above 1 a comment says so
};

// Comment lines ('!'), the option line "# MHz S MA R 50", then one line per sample:
// frequency in MHz, Rho and the phase in degrees, each as the shortest text that reads
// back as the same number. The analyser gives no sign of the phase, so every angle lies
// between 0 and 180 degrees, as a comment says. A sweep from a higher to a lower frequency
// is written in ascending order, as the format requires.
std::string SweepTouchstone(const TVNAList& list, const TouchstoneSource& source);
