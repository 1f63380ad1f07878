#include "measure/NumberText.h"

#include "platform/CLocale.h"

#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace {

using kestrin::CLocaleScope;

// The number at the start of text, read with '.' as the decimal separator.
Extended ReadNumber(const char* text, char** end)
{
    CLocaleScope scope;
    return std::strtold(text, end);
}

std::string FormatWith(const char* format, int precision, Extended value)
{
    CLocaleScope scope;
    char buf[128];
    int n = std::snprintf(buf, sizeof buf, format, precision, value);
    if (n < 0)
        return std::string();
    if (static_cast<size_t>(n) < sizeof buf)
        return std::string(buf, static_cast<size_t>(n));
    std::string big(static_cast<size_t>(n) + 1, '\0');
    std::snprintf(big.data(), big.size(), format, precision, value);
    big.resize(static_cast<size_t>(n));
    return big;
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
    return FormatWith("%.*Lf", decimals, value);
}

std::string FormatGeneral(Extended value)
{
    if (value == 0)
        return "0"; // also for -0
    return FormatWith("%.*Lg", 15, value);
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

std::string FormatRoundTrip(Extended value)
{
    if (value == 0)
        return "0";
    if (!std::isfinite(value))
        return FormatWith("%.*Lg", 21, value);
    for (int digits = 15; digits < 21; ++digits) {
        std::string text = FormatWith("%.*Lg", digits, value);
        if (ReadNumber(text.c_str(), nullptr) == value)
            return text;
    }
    return FormatWith("%.*Lg", 21, value);
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

    const std::string copy(core);
    char* end = nullptr;
    const Extended value = ReadNumber(copy.c_str(), &end);
    // Overflow is out of range; underflow gives 0 or a tiny value, which is what the text means.
    if (end != copy.c_str() + copy.size() || !std::isfinite(value))
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
