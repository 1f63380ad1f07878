#include "measure/TouchstoneReader.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <complex>
#include <optional>

#include "measure/NumberText.h"
#include "measure/Sweep.h"

namespace {

using Complex = std::complex<Extended>;

constexpr Extended kDegPerRad = 57.295779513082320877L;
constexpr Extended kRefOhm = 50;
// A reflection of exactly 0 has no finite return loss: it reads as this many dB, far beyond
// the bottom of the return-loss scale.
constexpr Extended kPerfectMatchDb = 2000;

std::string Lower(std::string_view text)
{
    std::string lower(text);
    std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return lower;
}

std::vector<std::string_view> Words(std::string_view line)
{
    std::vector<std::string_view> words;
    size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && std::isspace(static_cast<unsigned char>(line[i])))
            ++i;
        const size_t start = i;
        while (i < line.size() && !std::isspace(static_cast<unsigned char>(line[i])))
            ++i;
        if (i > start)
            words.push_back(line.substr(start, i - start));
    }
    return words;
}

enum class Format { MA, DB, RI };

struct Options {
    Extended HzPerUnit = 1e9L;
    Format Form = Format::MA;
    Extended ROhm = 50;
};

// Reads the words after '#'; an error text, or empty.
std::string ReadOptions(const std::vector<std::string_view>& words, Options& o)
{
    for (size_t k = 0; k < words.size(); ++k) {
        const std::string w = Lower(words[k]);
        if (w == "hz")
            o.HzPerUnit = 1;
        else if (w == "khz")
            o.HzPerUnit = 1e3L;
        else if (w == "mhz")
            o.HzPerUnit = 1e6L;
        else if (w == "ghz")
            o.HzPerUnit = 1e9L;
        else if (w == "s")
            continue;
        else if (w == "y" || w == "z" || w == "h" || w == "g")
            return "only S parameters can be read, not " + std::string(words[k]) + " parameters.";
        else if (w == "ma")
            o.Form = Format::MA;
        else if (w == "db")
            o.Form = Format::DB;
        else if (w == "ri")
            o.Form = Format::RI;
        else if (w == "r") {
            const std::optional<Extended> r = k + 1 < words.size() ? ParseDecimal(words[k + 1]) : std::nullopt;
            if (!r || !(*r > 0))
                return "R needs a resistance in ohm larger than 0.";
            o.ROhm = *r;
            ++k;
        } else
            return "the option line cannot hold '" + std::string(words[k]) +
                   "' (it reads like # MHz S MA R 50).";
    }
    return {};
}

// S11 referred to r ohm, as the reflection at 50 ohm.
Complex At50Ohm(Complex s, Extended r)
{
    if (r == kRefOhm)
        return s;
    // Z = r (1 + s) / (1 - s); gamma = (Z - 50) / (Z + 50), multiplied out so that an open
    // (s = 1) stays an open.
    const Complex a = r * (Extended(1) + s);
    const Complex b = kRefOhm * (Extended(1) - s);
    const Complex den = a + b;
    if (den == Complex(0))
        return Complex(1e300L);
    return (a - b) / den;
}

} // namespace

TouchstoneReading ReadTouchstoneText(std::string_view text)
{
    TouchstoneReading reading;
    if (text.substr(0, 3) == "\xEF\xBB\xBF")
        text.remove_prefix(3);
    Options options;
    bool optionsSeen = false;
    bool referenceNext = false; // a version 2 [Reference] whose resistance is on the next line
    bool information = false;   // between [Begin Information] and [End Information]
    int number = 0;
    auto fail = [&](const std::string& why) {
        reading.Points.clear();
        reading.Error = "Line " + std::to_string(number) + ": " + why;
        return reading;
    };
    while (!text.empty()) {
        const size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        ++number;
        if (const size_t bang = line.find('!'); bang != std::string_view::npos)
            line = line.substr(0, bang);
        const std::vector<std::string_view> words = Words(line);
        if (words.empty())
            continue;
        if (referenceNext) {
            referenceNext = false;
            const std::optional<Extended> r = ParseDecimal(words[0]);
            if (!r || !(*r > 0))
                return fail("[Reference] needs a resistance in ohm larger than 0.");
            options.ROhm = *r;
            continue;
        }
        if (information && Lower(words[0]) != "[end")
            continue;
        if (words[0].front() == '#') {
            // Only the first option line counts, as the format has it.
            if (optionsSeen)
                continue;
            if (!reading.Points.empty())
                return fail("the option line must come before the data.");
            optionsSeen = true;
            std::vector<std::string_view> rest(words.begin() + 1, words.end());
            if (words[0].size() > 1)
                rest.insert(rest.begin(), words[0].substr(1));
            if (std::string why = ReadOptions(rest, options); !why.empty())
                return fail(why);
            continue;
        }
        if (words[0].front() == '[') {
            // Version 2 keywords: one port only; the data ends at [End].
            const std::string keyword = Lower(line.substr(line.find('['), line.find(']') + 1 - line.find('[')));
            if (keyword == "[number of ports]") {
                const std::optional<int32_t> ports = words.size() >= 4 ? ParseWhole32(words[3]) : std::nullopt;
                if (ports != 1)
                    return fail("the file holds " + (words.size() >= 4 ? std::string(words[3]) : std::string("?")) +
                                " ports; a reference is a one-port file (.s1p).");
            } else if (keyword == "[end]") {
                break;
            } else if (keyword == "[reference]") {
                // The resistance of port 1, here or on the next line; it stands for the option line's R.
                if (words.size() < 2) {
                    referenceNext = true;
                } else {
                    const std::optional<Extended> r = ParseDecimal(words[1]);
                    if (!r || !(*r > 0))
                        return fail("[Reference] needs a resistance in ohm larger than 0.");
                    options.ROhm = *r;
                }
            } else if (keyword == "[begin information]" || keyword == "[end information]") {
                information = keyword == "[begin information]";
            } else if (keyword != "[version]" && keyword != "[number of frequencies]" &&
                       keyword != "[network data]" && keyword != "[matrix format]") {
                return fail(std::string(words[0]) + " cannot be read here; a reference is a one-port file (.s1p).");
            }
            continue;
        }
        if (reading.Points.size() == MaxTouchstonePoints)
            return fail("a reference holds at most " + std::to_string(MaxTouchstonePoints) + " frequencies.");
        if (words.size() != 3)
            return fail("a one-port data line holds 3 numbers, the frequency and S11, not " +
                        std::to_string(words.size()) + ".");
        Extended v[3];
        for (int k = 0; k < 3; ++k) {
            const std::optional<Extended> value = ParseDecimal(words[size_t(k)]);
            if (!value)
                return fail("'" + std::string(words[size_t(k)]) + "' is not a number.");
            v[k] = *value;
        }
        const Extended freqMHz = v[0] * options.HzPerUnit / 1e6L;
        if (freqMHz < 0)
            return fail("a frequency cannot be negative.");
        if (!reading.Points.empty() && !(freqMHz > reading.Points.back().FreqMHz))
            return fail("a frequency must be larger than the one before it.");
        Complex s;
        switch (options.Form) {
        case Format::RI:
            s = Complex(v[1], v[2]);
            break;
        case Format::MA:
            if (v[1] < 0)
                return fail("a magnitude cannot be negative.");
            s = std::polar(v[1], v[2] / kDegPerRad);
            break;
        case Format::DB:
            s = std::polar(powl(10, v[1] / 20), v[2] / kDegPerRad);
            break;
        }
        const Complex gamma = At50Ohm(s, options.ROhm);
        const Extended rho = std::abs(gamma);
        TouchstonePoint p;
        p.FreqMHz = freqMHz;
        p.RLdB = rho > 0 ? std::clamp(-20 * log10l(rho), -kPerfectMatchDb, kPerfectMatchDb) : kPerfectMatchDb;
        // The analyser shows the phase's size only: an angle of -90 or 270 degrees is 90.
        p.PhaseDeg = fabsl(std::arg(gamma) * kDegPerRad);
        if (!std::isfinite(p.RLdB) || !std::isfinite(p.PhaseDeg))
            return fail("these values give no reflection at 50 ohm.");
        reading.Points.push_back(p);
    }
    if (reading.Points.empty()) {
        reading.Error = "The file holds no data lines.";
    }
    return reading;
}

int TouchstonePortsOfName(std::string_view name)
{
    const size_t dot = name.find_last_of('.');
    const size_t slash = name.find_last_of("/\\");
    if (dot == std::string_view::npos || (slash != std::string_view::npos && dot < slash))
        return 0;
    const std::string suffix = Lower(name.substr(dot + 1));
    if (suffix.size() < 3 || suffix.front() != 's' || suffix.back() != 'p')
        return 0;
    const std::optional<int32_t> ports = ParseWhole32(std::string_view(suffix).substr(1, suffix.size() - 2));
    if (!ports || *ports < 1 || !std::all_of(suffix.begin() + 1, suffix.end() - 1, [](char c) { return c >= '0' && c <= '9'; }))
        return 0;
    return *ports;
}

void TouchstoneList(const std::vector<TouchstonePoint>& points, TVNAList& list)
{
    list.ClearEntries();
    list.Reserve(static_cast<int32_t>(points.size()));
    for (const TouchstonePoint& p : points)
        ComputeEntryFromReflection(*list.NewEntry(), p.FreqMHz, p.RLdB, p.PhaseDeg);
}
