#include "measure/NumberText.h"

#include <algorithm>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <system_error>

// Texts are written with std::to_chars, which writes '.' whatever the locale, and read
// by strtold from a form without a decimal point, which reads alike in every locale.
namespace {

// to_chars as printf would write "%.<precision>Lf" (fixed) or "%.<precision>Lg" (general).
std::string FormatWith(std::chars_format format, int precision, Extended value)
{
    std::string text(64, '\0');
    for (;;) {
        const auto [end, ec] = std::to_chars(text.data(), text.data() + text.size(), value, format, precision);
        if (ec == std::errc()) {
            text.resize(size_t(end - text.data()));
            return text;
        }
        text.resize(text.size() * 4); // up to 4933 digits before the point, and the decimals
    }
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Cuts leading and trailing blanks.
std::string_view Trim(std::string_view text)
{
    size_t b = 0;
    while (b < text.size() && IsBlank(text[b]))
        ++b;
    size_t e = text.size();
    while (e > b && IsBlank(text[e - 1]))
        --e;
    return text.substr(b, e - b);
}

} // namespace

std::string FormatFixed(Extended value, int decimals)
{
    if (decimals < 0)
        decimals = 0;
    return FormatWith(std::chars_format::fixed, decimals, value);
}

std::string FormatGeneral(Extended value)
{
    if (value == 0)
        return "0"; // also for -0
    return FormatWith(std::chars_format::general, 15, value);
}

std::string FormatMHz(int32_t kHz)
{
    return FormatGeneral(static_cast<Extended>(kHz) / 1000);
}

long long KHzFromMHz(Extended mHz)
{
    const Extended kHz = mHz * 1000;
    if (!(kHz > static_cast<Extended>(LLONG_MIN)))
        return LLONG_MIN;
    if (!(kHz < static_cast<Extended>(LLONG_MAX)))
        return LLONG_MAX;
    return llrintl(kHz);
}

std::string FormatShortestDouble(double value)
{
    if (value == 0)
        return "0"; // also for -0
    char buf[64];
    if (!std::isfinite(value)) {
        const auto end = std::to_chars(buf, buf + sizeof buf, value).ptr;
        return std::string(buf, end);
    }
    // "-d.ddde+XX" with the fewest digits that read back as value.
    const std::string scientific(buf, std::to_chars(buf, buf + sizeof buf, value, std::chars_format::scientific).ptr);
    const size_t e = scientific.find('e');
    const char* expBegin = scientific.c_str() + e + 1;
    if (*expBegin == '+')
        ++expBegin;
    int exponent = 0;
    std::from_chars(expBegin, scientific.c_str() + scientific.size(), exponent);
    if (exponent < -4 || exponent >= 15)
        return scientific;

    const bool negative = scientific[0] == '-';
    std::string digits;
    for (size_t i = negative ? 1 : 0; i < e; ++i)
        if (scientific[i] != '.')
            digits += scientific[i];
    std::string out = negative ? "-" : "";
    const size_t whole = static_cast<size_t>(exponent) + 1; // digits before the point
    if (exponent < 0)
        out += "0." + std::string(static_cast<size_t>(-exponent - 1), '0') + digits;
    else if (digits.size() <= whole)
        out += digits + std::string(whole - digits.size(), '0');
    else
        out += digits.substr(0, whole) + '.' + digits.substr(whole);
    return out;
}

std::string UtcTimeText(std::chrono::system_clock::time_point t)
{
    using namespace std::chrono;
    const auto ms = floor<milliseconds>(t);
    const auto day = floor<days>(ms);
    const year_month_day date(day);
    const hh_mm_ss<milliseconds> time(ms - day);
    char text[40];
    std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02d.%03dZ", int(date.year()), unsigned(date.month()),
                  unsigned(date.day()), int(time.hours().count()), int(time.minutes().count()),
                  int(time.seconds().count()), int(time.subseconds().count()));
    return text;
}

std::optional<Extended> ParseDecimal(std::string_view text)
{
    const std::string_view core = Trim(text);
    size_t i = 0;
    if (i < core.size() && (core[i] == '+' || core[i] == '-'))
        ++i;
    size_t digits = 0;
    bool point = false;
    for (; i < core.size(); ++i) {
        if (IsDigit(core[i]))
            ++digits;
        else if (core[i] == '.' && !point)
            point = true;
        else
            break;
    }
    if (digits == 0)
        return std::nullopt;
    if (i < core.size() && (core[i] == 'e' || core[i] == 'E')) {
        ++i;
        if (i < core.size() && (core[i] == '+' || core[i] == '-'))
            ++i;
        size_t expDigits = 0;
        while (i < core.size() && IsDigit(core[i])) {
            ++i;
            ++expDigits;
        }
        if (expDigits == 0)
            return std::nullopt;
    }
    if (i != core.size())
        return std::nullopt;

    // The same number as sign, the digits without the point, and an exponent that
    // makes up for the digits after the point: "-12.5e3" becomes "-125e2".
    std::string plain;
    int64_t exponent = 0;
    bool afterPoint = false;
    size_t k = 0;
    if (core[k] == '+' || core[k] == '-')
        plain += core[k++];
    for (; k < core.size() && (IsDigit(core[k]) || core[k] == '.'); ++k) {
        if (core[k] == '.') {
            afterPoint = true;
            continue;
        }
        plain += core[k];
        exponent -= afterPoint ? 1 : 0;
    }
    if (k < core.size()) { // the exponent, held within a range that over- or underflows anyway
        const bool negative = core[++k] == '-';
        if (core[k] == '+' || core[k] == '-')
            ++k;
        int64_t written = 0;
        for (; k < core.size(); ++k)
            written = std::min<int64_t>(written * 10 + (core[k] - '0'), 1000000000);
        exponent += negative ? -written : written;
    }
    plain += 'e' + std::to_string(exponent);
    char* end = nullptr;
    const Extended value = std::strtold(plain.c_str(), &end);
    // Overflow is out of range; underflow gives 0 or a tiny value, which is what the text means.
    if (end != plain.c_str() + plain.size() || !std::isfinite(value))
        return std::nullopt;
    return value;
}

std::optional<int32_t> ParseWhole32(std::string_view text)
{
    const std::string_view core = Trim(text);
    size_t i = 0;
    bool negative = false;
    if (i < core.size() && (core[i] == '+' || core[i] == '-')) {
        negative = core[i] == '-';
        ++i;
    }
    if (i == core.size())
        return std::nullopt;
    int64_t magnitude = 0;
    for (; i < core.size(); ++i) {
        if (!IsDigit(core[i]))
            return std::nullopt;
        magnitude = magnitude * 10 + (core[i] - '0');
        if (magnitude > int64_t{INT32_MAX} + 1)
            return std::nullopt;
    }
    const int64_t value = negative ? -magnitude : magnitude;
    if (value < INT32_MIN || value > INT32_MAX)
        return std::nullopt;
    return static_cast<int32_t>(value);
}
