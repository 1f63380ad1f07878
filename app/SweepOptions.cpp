#include "app/SweepOptions.h"

#include <algorithm>
#include <cctype>
#include <optional>

#include "acquisition/SettingsRules.h"
#include "acquisition/SweepSetup.h"
#include "measure/NumberText.h"

namespace kestrin {

namespace {

std::string Lower(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return text;
}

// The format a file name's suffix stands for.
std::optional<SweepFormat> FormatOfName(const std::string& path)
{
    const size_t slash = path.find_last_of('/');
    const size_t dot = path.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
        return std::nullopt;
    const std::string suffix = Lower(path.substr(dot + 1));
    if (suffix == "csv")
        return SweepFormat::Csv;
    if (suffix == "s1p")
        return SweepFormat::Touchstone;
    if (suffix == "tsv" || suffix == "txt")
        return SweepFormat::Summary;
    return std::nullopt;
}

// A frequency in MHz as the window's frequency fields take it typed (a decimal comma is the
// point: "7,1" is 7.1); an error text when refused.
std::string TakeFrequency(const std::string& option, std::string text, int32_t& kHz)
{
    const std::string typed = text;
    std::replace(text.begin(), text.end(), ',', '.');
    const std::optional<Extended> mHz = ParseDecimal(text);
    if (!mHz)
        return option + " needs a number of MHz, not '" + typed + "'.";
    const long long rounded = KHzFromMHz(*mHz);
    if (std::string refusal = FrequencyRejection(rounded); !refusal.empty())
        return refusal;
    kHz = static_cast<int32_t>(rounded);
    return {};
}

} // namespace

bool IsSimulatorPort(const std::string& port)
{
    return Lower(port) == "simulator";
}

SweepOptionsResult ParseSweepOptions(const std::vector<std::string>& arguments)
{
    SweepOptionsResult result;
    SweepOptions& o = result.Options;
    o.StartKHz = DefaultStartKHz;
    o.EndKHz = DefaultEndKHz;
    o.Steps = DefaultSteps;
    o.DdsClockHz = DefaultDdsClockHz;
    o.RLCalDb = DefaultRLCalDb;
    std::optional<SweepFormat> format;
    std::string& error = result.Error;
    // A setup file gives the settings the command line leaves out.
    std::optional<std::string> setupPath;
    bool given[5] = {}; // --start, --end, --steps, --clock, --cal
    bool averageGiven = false;
    bool bandwidthGiven = false;

    for (size_t i = 0; i < arguments.size() && error.empty(); ++i) {
        std::string option = arguments[i];
        if (option == "-h" || option == "--help") {
            o.Help = true;
            return result;
        }
        if (option == "--version") {
            o.Version = true;
            return result;
        }
        std::optional<std::string> value;
        if (const size_t eq = option.find('='); option.rfind("--", 0) == 0 && eq != std::string::npos) {
            value = option.substr(eq + 1);
            option.resize(eq);
        }
        static const char* const known[] = {"--port", "--start", "--end", "--steps", "--clock",
                                            "--cal", "--count", "--format", "--output", "--setup",
                                            "--average", "--bandwidth-swr"};
        if (std::find(std::begin(known), std::end(known), option) == std::end(known)) {
            error = option.rfind('-', 0) == 0 ? "Unknown option '" + option + "'."
                                              : "Unexpected argument '" + option + "'.";
            break;
        }
        if (!value) {
            if (i + 1 >= arguments.size()) {
                error = "Option '" + option + "' needs a value.";
                break;
            }
            value = arguments[++i];
        }
        const std::string& text = *value;

        if (option == "--port") {
            o.Port = text;
        } else if (option == "--setup") {
            setupPath = text;
        } else if (option == "--start") {
            error = TakeFrequency(option, text, o.StartKHz);
            given[0] = true;
        } else if (option == "--end") {
            error = TakeFrequency(option, text, o.EndKHz);
            given[1] = true;
        } else if (option == "--steps") {
            given[2] = true;
            // As the window's field: a text that is no whole number counts as 0.
            const int32_t steps = ParseWhole32(text).value_or(0);
            if (error = StepsRejection(steps); error.empty())
                o.Steps = steps;
        } else if (option == "--clock") {
            given[3] = true;
            const int32_t clockHz = ParseWhole32(text).value_or(0);
            if (error = DdsClockRejection(clockHz); error.empty())
                o.DdsClockHz = clockHz;
        } else if (option == "--cal") {
            given[4] = true;
            const std::optional<Extended> dB = ParseDecimal(text);
            if (dB)
                o.RLCalDb = *dB;
            else
                error = "--cal needs a number of dB, not '" + text + "'.";
        } else if (option == "--count") {
            const std::optional<int32_t> count = ParseWhole32(text);
            if (count && *count >= 0)
                o.Count = *count;
            else
                error = "--count needs a whole number of 0 or more, not '" + text + "'.";
        } else if (option == "--average") {
            averageGiven = true;
            const std::optional<int32_t> n = ParseWhole32(text);
            if (n && *n >= 1 && *n <= 16)
                o.Average = *n;
            else
                error = "--average needs a number of sweeps from 1 to 16, not '" + text + "'.";
        } else if (option == "--bandwidth-swr") {
            bandwidthGiven = true;
            std::string typed = text;
            std::replace(typed.begin(), typed.end(), ',', '.');
            const std::optional<Extended> limit = ParseDecimal(typed);
            if (limit && *limit >= 1 && *limit <= 100)
                o.BandwidthSwr = *limit;
            else
                error = "--bandwidth-swr needs an SWR from 1 to 100, not '" + text + "'.";
        } else if (option == "--format") {
            const std::string name = Lower(text);
            if (name == "csv")
                format = SweepFormat::Csv;
            else if (name == "s1p")
                format = SweepFormat::Touchstone;
            else if (name == "summary")
                format = SweepFormat::Summary;
            else
                error = "Unknown format '" + text + "' (csv, s1p or summary).";
        } else if (option == "--output") {
            if (text.empty())
                error = "--output needs a file name.";
            o.Output = text;
        }
    }
    if (!error.empty())
        return result;

    if (setupPath) {
        const SetupReading reading = ReadSetupFile(*setupPath);
        if (!reading.Error.empty()) {
            error = reading.Error;
            return result;
        }
        const SweepSetup& setup = reading.Setup;
        // A model sets what choosing it in the window sets; the file's own values come after.
        SweepOptions fromFile = o;
        if (setup.Model) {
            const AnalyserModel& model = AnalyserModels[*setup.Model];
            fromFile.EndKHz = model.EndKHz;
            fromFile.Steps = model.Steps;
            fromFile.DdsClockHz = model.DdsClockHz;
            fromFile.RLCalDb = 0;
        }
        fromFile.StartKHz = setup.StartKHz.value_or(fromFile.StartKHz);
        fromFile.EndKHz = setup.EndKHz.value_or(fromFile.EndKHz);
        fromFile.Steps = setup.Steps.value_or(fromFile.Steps);
        fromFile.DdsClockHz = setup.DdsClockHz.value_or(fromFile.DdsClockHz);
        fromFile.RLCalDb = setup.RLCalDb.value_or(fromFile.RLCalDb);
        if (!given[0])
            o.StartKHz = fromFile.StartKHz;
        if (!given[1])
            o.EndKHz = fromFile.EndKHz;
        if (!given[2])
            o.Steps = fromFile.Steps;
        if (!given[3])
            o.DdsClockHz = fromFile.DdsClockHz;
        if (!given[4])
            o.RLCalDb = fromFile.RLCalDb;
        if (!averageGiven && setup.Average)
            o.Average = *setup.Average;
        if (!bandwidthGiven && setup.BandwidthSwr && *setup.BandwidthSwr > 0)
            o.BandwidthSwr = *setup.BandwidthSwr;
    }

    if (o.Port.empty()) {
        error = "Which analyser? Give --port with its device path, or --port simulator.";
        return result;
    }
    if (!format && !o.Output.empty()) {
        format = FormatOfName(o.Output);
        if (!format) {
            error = "The name '" + o.Output + "' does not tell the format: give --format csv, s1p or summary.";
            return result;
        }
    }
    o.Format = format.value_or(SweepFormat::Csv);
    // With averaging, the file holds the mean of the last sweeps of --count.
    if (o.Format == SweepFormat::Touchstone && o.Count != 1 && (o.Average == 1 || o.Count == 0))
        error = o.Average == 1 ? "A Touchstone file holds one sweep: the s1p format needs --count 1."
                               : "A Touchstone file holds one sweep: with --average, the s1p format needs a "
                                 "--count of 1 or more (the mean of the last sweeps is written).";
    return result;
}

std::string SweepToolHelp()
{
    return std::string("Usage: ") + SweepToolName +
#ifdef _WIN32
           " --port PORT|simulator [options]\n"
#else
           " --port PATH|simulator [options]\n"
#endif
           "\n"
           "Sweeps a DDS antenna analyser without a window and writes the sweeps as CSV, as a\n"
           "Touchstone file or as one summary line per sweep.\n"
           "\n"
           "Options (the defaults are the window's; as in its frequency fields, a decimal comma\n"
           "is the point: --start 7,1 is 7.1 MHz):\n"
#ifdef _WIN32
           "  --port PORT       the analyser's COM port, e.g. COM5; 'simulator' for the\n"
           "                    simulated analyser with an antenna load\n"
#else
           "  --port PATH       the analyser's serial device, e.g. /dev/ttyUSB0 (or its name in\n"
           "                    the window's port list, ttyUSB0); 'simulator' for the simulated\n"
           "                    analyser with an antenna load\n"
#endif
           "  --setup FILE      take the sweep settings from a setup file saved by the window\n"
           "                    (File > Save Setup...); the options below override them\n"
           "  --start MHZ       start frequency, 0 to 550 (default 0.1)\n"
           "  --end MHZ         end frequency, 0 to 550 (default 180)\n"
           "  --steps N         samples per sweep, 10 to 4000 (default 500)\n"
           "  --clock HZ        the analyser's DDS clock, 1 to 1300000000 (default 400000000;\n"
           "                    1250000000 for the 500 MHz model)\n"
           "  --cal DB          return-loss calibration in dB (default 0)\n"
           "  --count N         number of sweeps (default 1); 0 sweeps until interrupted\n"
           "  --format FORMAT   csv      the window's CSV; with a count other than 1 every row\n"
           "                             begins with the sweep's number and its time (UTC)\n"
           "                    s1p      Touchstone 1.1, |S11| and angle (needs --count 1;\n"
           "                             with --average, any count: the last mean)\n"
           "                    summary  per sweep one tab-separated line: the time (UTC) and\n"
           "                             the window's lowest-SWR read-outs: frequency, SWR,\n"
           "                             R.L., phase, |Z|, Rs, |Xs|, L, C, Q; then the lower\n"
           "                             and upper edge of the SWR bandwidth in MHz ('<' or\n"
           "                             '>' before an edge at the sweep's end; 'none' in\n"
           "                             both when the lowest SWR lies above the limit)\n"
           "                    Without it the suffix of --output decides (.csv, .s1p, .tsv or\n"
           "                    .txt for summary); standard output gets csv.\n"
           "  --average N       each sweep written is the mean of the last N sweeps (return\n"
           "                    loss and phase per step), 1 to 16 (default 1: no mean)\n"
           "  --bandwidth-swr X the SWR limit of the summary's bandwidth columns (default 2)\n"
           "  --output FILE     write to FILE instead of standard output; with a count of\n"
           "                    1 or more the file appears only once complete, with --count 0\n"
           "                    every sweep is added as it arrives\n"
           "  -h, --help        show this help and exit\n"
           "      --version     show the version and exit\n"
           "\n"
#ifdef _WIN32
           "Ctrl+C or Ctrl+Break ends the run after the sweeps already complete: a sweep under\n"
           "way is dropped, the output is closed whole, and the exit status is 0.\n"
#else
           "Ctrl+C (SIGINT) or SIGTERM ends the run after the sweeps already complete: a sweep\n"
           "under way is dropped, the output is closed whole, and the exit status is 0.\n"
#endif
           "\n"
           "Exit status: 0 done, 1 the analyser could not be used (the port does not open, the\n"
           "connection is lost, no answer) or the output could not be written, 2 a bad option\n"
           "or setup file.\n";
}

} // namespace kestrin
