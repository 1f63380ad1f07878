#include "measure/Touchstone.h"

#include "measure/NumberText.h"

namespace {

// A comment ends at the line's end: line breaks in a text become blanks.
std::string OneLine(std::string text)
{
    for (char& c : text)
        if (c == '\n' || c == '\r')
            c = ' ';
    return text;
}

} // namespace

std::string SweepTouchstone(const TVNAList& list, const TouchstoneSource& source)
{
    std::string out;
    out += "! " + OneLine(source.Program) + "\n";
    out += "! Saved " + OneLine(source.SavedAt) + "\n";
    out += "! Port " + OneLine(source.Port) + "\n";
    out += "! Sweep: start " + FormatMHz(source.Shape.StartKHz) + " MHz, end " + FormatMHz(source.Shape.EndKHz) +
           " MHz, " + std::to_string(source.Shape.Steps) + " steps, DDS clock " + std::to_string(source.DdsClockHz) +
           " Hz, R.L. calibration " + FormatGeneral(source.RLCalDb) + " dB\n";
    if (source.Averaged > 1)
        out += "! Each value is the mean of " + std::to_string(source.Averaged) +
               " sweeps (return loss in dB and phase in degrees, per step).\n";
    out += "! The analyser measures only the size of the phase: every angle lies between 0 and 180 degrees.\n";
    out += "# MHz S MA R 50\n";

    const int32_t n = list.Count();
    const bool descending = n > 1 && list.GetEntry(0)->FreqMHz > list.GetEntry(n - 1)->FreqMHz;
    for (int32_t k = 0; k < n; ++k) {
        const TVNAEntry& e = *list.GetEntry(descending ? n - 1 - k : k);
        // The double's shortest text carries all of the double's precision: up to 17
        // significant digits where the value needs them, fewer only where fewer are exact
        // (7.1 MHz is "7.1").
        out += FormatShortestDouble(static_cast<double>(e.FreqMHz)) + ' ' +
               FormatShortestDouble(static_cast<double>(e.Rho)) + ' ' +
               FormatShortestDouble(static_cast<double>(e.PhaseDeg)) + '\n';
    }
    return out;
}
