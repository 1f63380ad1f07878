#pragma once
// The texts of one read-out row and of the L/C calculators.
#include <string>

#include "measure/Extended.h"
#include "measure/VNAList.h"

struct ReadoutRow {
    std::string F, SWR, RL, Phase, Z, Rs, Xs, L, C, Q;
};

// "%0.3f" frequency, "%0.2f" SWR, Z, Rs, Xs, "%0.1f" RL, Phase, L, C, Q.
ReadoutRow FormatReadoutRow(const TVNAEntry& e);

// The values under the cursor, one per line in the read-out row's formats:
// "26.000 MHz", "SWR 1.92", "R.L. 10.0 dB", "Phase 90.0°", "|Z| 50.00 Ω" (UTF-8).
std::string CursorReadout(const TVNAEntry& e);

enum class CalcMode { CalculateL, CalculateC };

struct CalculatorTexts {
    std::string Freq;   // marker frequency, "%0.3f" (0.000 when unset)
    std::string Result; // empty unless value > 0 and frequency > 0
};

// Resonance: L (uH) from C (pF), or C (pF) from L (uH); shown with "%0.1f" from 1000,
// "%0.2f" from 10, "%0.3f" below.
CalculatorTexts EvaluateCalculator(Extended markerFreqMHz, Extended knownValue, CalcMode mode);

// The sweep as CSV: one header line, then one line per sample with frequency (MHz),
// SWR, return loss (dB), phase (degrees), |Z|, Rs, |Xs|, L (uH), C (pF) and Q,
// comma-separated, each the shortest text that reads back as the value's double.
std::string SweepCsv(const TVNAList& list);
// Its two parts: the header line, and the sample lines, each begun with prefix (a file of
// several sweeps puts the sweep's number and time there).
std::string SweepCsvHeader();
std::string SweepCsvRows(const TVNAList& list, const std::string& prefix = {});
