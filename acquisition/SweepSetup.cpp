#include "acquisition/SweepSetup.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iterator>

#include "acquisition/SettingsRules.h"
#include "measure/NumberText.h"
#include "platform/AtomicFile.h"

namespace kestrin {

namespace {

// The first line: the format's name, then its version.
constexpr std::string_view FormatName = "Kestrin VNA setup";
constexpr int FormatVersion = 1;

// A larger file is no setup; it is not read into memory.
constexpr long MaxSetupBytes = 1 << 20;

constexpr const char* TraceKeys[SetupTraceCount] = {"trace_swr", "trace_rl", "trace_phase",
                                                    "trace_z",   "trace_xs", "trace_rs"};

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

std::string_view Trim(std::string_view text)
{
    while (!text.empty() && IsBlank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && IsBlank(text.back()))
        text.remove_suffix(1);
    return text;
}

std::string Lower(std::string_view text)
{
    std::string lower(text);
    std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return lower;
}

std::string OnOff(bool on) { return on ? "on" : "off"; }

// One value of the file; each returns the refusal, or an empty text when v is taken.
struct ValueReader {
    std::string_view Key;
    std::string_view Text;

    std::string Quoted() const { return "'" + std::string(Text) + "'"; }

    std::string Frequency(std::optional<int32_t>& kHz) const
    {
        const std::optional<Extended> mHz = ParseDecimal(Text);
        if (!mHz)
            return std::string(Key) + " needs a number of MHz, not " + Quoted() + ".";
        // Rounded and checked as the window's frequency fields do it.
        const long long rounded = KHzFromMHz(*mHz);
        if (std::string refusal = FrequencyRejection(rounded); !refusal.empty())
            return refusal;
        kHz = static_cast<int32_t>(rounded);
        return {};
    }

    // A whole number checked by rule; as in the window's fields, text that is no whole
    // number counts as 0, which every rule refuses.
    std::string Whole(std::optional<int32_t>& value, std::string (*rule)(long long)) const
    {
        const int32_t number = ParseWhole32(Text).value_or(0);
        if (std::string refusal = rule(number); !refusal.empty())
            return refusal;
        value = number;
        return {};
    }

    std::string Decimal(std::optional<Extended>& value, const char* unit) const
    {
        const std::optional<Extended> number = ParseDecimal(Text);
        if (!number)
            return std::string(Key) + " needs a number" + unit + ", not " + Quoted() + ".";
        value = *number;
        return {};
    }

    // A marker: "none", or a frequency in MHz within the frequency fields' range.
    std::string Marker(std::optional<Extended>& mHz) const
    {
        if (Lower(Text) == "none") {
            mHz = 0;
            return {};
        }
        const std::optional<Extended> number = ParseDecimal(Text);
        if (!number)
            return std::string(Key) + " needs a number of MHz or none, not " + Quoted() + ".";
        if (std::string refusal = FrequencyRejection(KHzFromMHz(*number)); !refusal.empty())
            return refusal;
        mHz = *number;
        return {};
    }

    std::string Switch(std::optional<bool>& on) const
    {
        const std::string word = Lower(Text);
        if (word == "on" || word == "yes" || word == "true")
            on = true;
        else if (word == "off" || word == "no" || word == "false")
            on = false;
        else
            return std::string(Key) + " is on or off, not " + Quoted() + ".";
        return {};
    }

    std::string Finds(std::optional<bool>& findsL) const
    {
        const std::string word = Lower(Text);
        if (word != "l" && word != "c")
            return std::string(Key) + " is L or C, not " + Quoted() + ".";
        findsL = word == "l";
        return {};
    }

    // The View menu's choices: off (or 1), 2, 4, 8 or 16 sweeps.
    std::string Average(std::optional<int>& sweeps) const
    {
        const std::string word = Lower(Text);
        const int32_t n = word == "off" ? 1 : ParseWhole32(Text).value_or(0);
        if (n != 1 && n != 2 && n != 4 && n != 8 && n != 16)
            return std::string(Key) + " is off, 2, 4, 8 or 16, not " + Quoted() + ".";
        sweeps = n;
        return {};
    }

    // The View menu's choices: off, 1.5, 2 or 3.
    std::string BandwidthSwr(std::optional<Extended>& limit) const
    {
        if (Lower(Text) == "off") {
            limit = 0;
            return {};
        }
        const std::optional<Extended> number = ParseDecimal(Text);
        if (!number || (*number != 1.5L && *number != 2 && *number != 3))
            return std::string(Key) + " is off, 1.5, 2 or 3, not " + Quoted() + ".";
        limit = *number;
        return {};
    }

    std::string Model(std::optional<int>& model) const
    {
        std::string names;
        for (size_t i = 0; i < std::size(AnalyserModels); ++i) {
            if (Lower(Text) == Lower(AnalyserModels[i].Name)) {
                model = static_cast<int>(i);
                return {};
            }
            names += i == 0 ? "" : (i + 1 == std::size(AnalyserModels) ? " or " : ", ");
            names += AnalyserModels[i].Name;
        }
        return "Unknown analyser model " + Quoted() + ": " + names + ".";
    }
};

// Reads one known key's value into setup; an unknown key is passed over.
std::string ReadValue(SweepSetup& s, const std::string& key, const ValueReader& v)
{
    if (key == "model")
        return v.Model(s.Model);
    if (key == "start_mhz")
        return v.Frequency(s.StartKHz);
    if (key == "end_mhz")
        return v.Frequency(s.EndKHz);
    if (key == "steps")
        return v.Whole(s.Steps, StepsRejection);
    if (key == "dds_clock_hz")
        return v.Whole(s.DdsClockHz, DdsClockRejection);
    if (key == "rl_cal_db")
        return v.Decimal(s.RLCalDb, " of dB");
    if (key == "marker1_mhz")
        return v.Marker(s.Marker1MHz);
    if (key == "marker2_mhz")
        return v.Marker(s.Marker2MHz);
    for (int t = 0; t < SetupTraceCount; ++t)
        if (key == TraceKeys[t])
            return v.Switch(s.Traces[size_t(t)]);
    if (key == "calc1_finds")
        return v.Finds(s.Calculator1.FindsL);
    if (key == "calc1_value")
        return v.Decimal(s.Calculator1.Value, "");
    if (key == "calc2_finds")
        return v.Finds(s.Calculator2.FindsL);
    if (key == "calc2_value")
        return v.Decimal(s.Calculator2.Value, "");
    if (key == "frequency_scale")
        return v.Switch(s.FrequencyScale);
    if (key == "average")
        return v.Average(s.Average);
    if (key == "swr_bandwidth")
        return v.BandwidthSwr(s.BandwidthSwr);
    return {};
}

// Whether line is the format's first line: its name and a version of 1 or more (a newer
// version is read as far as its keys are known here).
bool IsFirstLine(std::string_view line)
{
    line = Trim(line);
    if (line.substr(0, FormatName.size()) != FormatName)
        return false;
    const std::string_view version = Trim(line.substr(FormatName.size()));
    if (version.empty() || version.size() == line.size() - FormatName.size())
        return false; // no version, or no blank between name and version
    return std::all_of(version.begin(), version.end(), [](char c) { return c >= '0' && c <= '9'; }) &&
           ParseWhole32(version).value_or(0) >= 1;
}

} // namespace

std::string SetupText(const SweepSetup& s)
{
    std::string text = std::string(FormatName) + " " + std::to_string(FormatVersion) + "\n";
    auto line = [&text](const char* key, const std::string& value) { text += std::string(key) + " = " + value + "\n"; };
    if (s.Model && *s.Model >= 0 && *s.Model < static_cast<int>(std::size(AnalyserModels)))
        line("model", AnalyserModels[*s.Model].Name);
    if (s.StartKHz)
        line("start_mhz", FormatMHz(*s.StartKHz));
    if (s.EndKHz)
        line("end_mhz", FormatMHz(*s.EndKHz));
    if (s.Steps)
        line("steps", std::to_string(*s.Steps));
    if (s.DdsClockHz)
        line("dds_clock_hz", std::to_string(*s.DdsClockHz));
    if (s.RLCalDb)
        line("rl_cal_db", FormatGeneral(*s.RLCalDb));
    if (s.Marker1MHz)
        line("marker1_mhz", *s.Marker1MHz == 0 ? "none" : FormatGeneral(*s.Marker1MHz));
    if (s.Marker2MHz)
        line("marker2_mhz", *s.Marker2MHz == 0 ? "none" : FormatGeneral(*s.Marker2MHz));
    for (int t = 0; t < SetupTraceCount; ++t)
        if (s.Traces[size_t(t)])
            line(TraceKeys[t], OnOff(*s.Traces[size_t(t)]));
    if (s.Calculator1.FindsL)
        line("calc1_finds", *s.Calculator1.FindsL ? "L" : "C");
    if (s.Calculator1.Value)
        line("calc1_value", FormatGeneral(*s.Calculator1.Value));
    if (s.Calculator2.FindsL)
        line("calc2_finds", *s.Calculator2.FindsL ? "L" : "C");
    if (s.Calculator2.Value)
        line("calc2_value", FormatGeneral(*s.Calculator2.Value));
    if (s.FrequencyScale)
        line("frequency_scale", OnOff(*s.FrequencyScale));
    if (s.Average)
        line("average", *s.Average <= 1 ? "off" : std::to_string(*s.Average));
    if (s.BandwidthSwr)
        line("swr_bandwidth", *s.BandwidthSwr == 0 ? "off" : FormatGeneral(*s.BandwidthSwr));
    return text;
}

SetupReading ReadSetupText(std::string_view text)
{
    SetupReading reading;
    // A byte order mark, as some editors write one, is no part of the first line.
    if (text.substr(0, 3) == "\xEF\xBB\xBF")
        text.remove_prefix(3);
    int number = 0;
    while (!text.empty() || number == 0) {
        const size_t end = text.find('\n');
        const std::string_view raw = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        ++number;
        const std::string where = "Line " + std::to_string(number) + ": ";
        if (number == 1) {
            if (!IsFirstLine(raw)) {
                reading.Error = where + "This is not a Kestrin VNA setup; its first line would read \"" +
                                std::string(FormatName) + " " + std::to_string(FormatVersion) + "\".";
                return reading;
            }
            continue;
        }
        const std::string_view line = Trim(raw);
        if (line.empty() || line.front() == '#')
            continue;
        const size_t eq = line.find('=');
        if (eq == std::string_view::npos) {
            reading.Error = where + "A setup line reads key = value, not '" + std::string(line) + "'.";
            return reading;
        }
        const std::string key = Lower(Trim(line.substr(0, eq)));
        if (std::string refusal = ReadValue(reading.Setup, key, ValueReader{key, Trim(line.substr(eq + 1))});
            !refusal.empty()) {
            reading.Error = where + refusal;
            return reading;
        }
    }
    return reading;
}

SetupReading ReadSetupFile(const std::string& path)
{
    const std::string prefix = "Cannot open " + kestrin::AbsolutePath(path) + ": ";

    SetupReading reading;
    std::string text;
    std::FILE* file = kestrin::OpenFile(path, "rb");
    if (file == nullptr) {
        reading.Error = prefix + std::strerror(errno);
        return reading;
    }
    char chunk[4096];
    size_t got = 0;
    while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0 && text.size() <= size_t(MaxSetupBytes))
        text.append(chunk, got);
    const int readError = std::ferror(file) ? errno : 0;
    std::fclose(file);
    if (readError != 0) {
        reading.Error = prefix + std::strerror(readError);
        return reading;
    }
    if (text.size() > size_t(MaxSetupBytes)) {
        reading.Error = prefix + "The file is too large for a setup (over 1 MiB).";
        return reading;
    }
    reading = ReadSetupText(text);
    if (!reading.Error.empty())
        reading.Error = prefix + reading.Error;
    return reading;
}

} // namespace kestrin
