#include "measure/Readouts.h"

#include <cmath>

#include "measure/NumberText.h"

namespace {

constexpr Extended kTwoPi = 6.283185307179586477L;

} // namespace

ReadoutRow FormatReadoutRow(const TVNAEntry& e)
{
    ReadoutRow row;
    row.F = FormatFixed(e.FreqMHz, 3);
    row.SWR = FormatFixed(e.SWR, 2);
    row.RL = FormatFixed(e.RLdB, 1);
    row.Phase = FormatFixed(e.PhaseDeg, 1);
    row.Z = FormatFixed(e.Z, 2);
    row.Rs = FormatFixed(e.Rs, 2);
    row.Xs = FormatFixed(e.Xs, 2);
    row.L = FormatFixed(e.LuH, 1);
    row.C = FormatFixed(e.CpF, 1);
    row.Q = FormatFixed(e.Q, 1);
    return row;
}

std::string CursorReadout(const TVNAEntry& e)
{
    const ReadoutRow row = FormatReadoutRow(e);
    return row.F + " MHz\nSWR " + row.SWR + "\nR.L. " + row.RL + " dB\nPhase " + row.Phase + "\xC2\xB0\n|Z| " + row.Z +
           " \xCE\xA9";
}

CalculatorTexts EvaluateCalculator(Extended markerFreqMHz, Extended knownValue, CalcMode mode)
{
    CalculatorTexts texts;
    texts.Freq = FormatFixed(markerFreqMHz, 3);
    if (!(knownValue > 0 && markerFreqMHz > 0))
        return texts;

    Extended result;
    if (mode == CalcMode::CalculateL) {
        const Extended x = 1 / (kTwoPi * markerFreqMHz * 1000);
        result = x * x / (knownValue * 1E-12L);
    } else {
        const Extended x = 1 / (kTwoPi * markerFreqMHz * 1000000);
        result = x * x / (knownValue * 1E-6L) * 1E12L;
    }
    // A known value so small that the result overflows has no sensible reading.
    if (!std::isfinite(result))
        return texts;
    if (result >= 1000)
        texts.Result = FormatFixed(result, 1);
    else if (result >= 10)
        texts.Result = FormatFixed(result, 2);
    else
        texts.Result = FormatFixed(result, 3);
    return texts;
}

std::string SweepCsv(const TVNAList& list)
{
    return SweepCsvHeader() + SweepCsvRows(list);
}

std::string SweepCsvHeader()
{
    return "Frequency (MHz),SWR,Return loss (dB),Phase (deg),|Z| (ohm),Rs (ohm),|Xs| (ohm),L (uH),C (pF),Q\n";
}

std::string SweepCsvRows(const TVNAList& list, const std::string& prefix)
{
    std::string out;
    for (int32_t i = 0; i < list.Count(); ++i) {
        const TVNAEntry& e = *list.GetEntry(i);
        out += prefix;
        const Extended values[] = {e.FreqMHz, e.SWR, e.RLdB, e.PhaseDeg, e.Z, e.Rs, e.Xs, e.LuH, e.CpF, e.Q};
        bool first = true;
        for (Extended v : values) {
            if (!first)
                out += ',';
            out += FormatShortestDouble(static_cast<double>(v));
            first = false;
        }
        out += '\n';
    }
    return out;
}
