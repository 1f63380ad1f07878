// Fuzz target: the number texts of the settings edits. Typed text passes the key filters,
// pasted text arrives unfiltered, so the parsers see any bytes. Checked against the grammars
// written out independently and against the C library's own conversions:
// - ParseDecimal accepts exactly the texts of the decimal grammar whose value is finite,
//   with the value strtold gives;
// - ParseWhole32 accepts exactly the whole-number texts that fit 32 bits, with strtoll's value;
// - KHzFromMHz of the parsed text is the nearest kHz (ties to even), and a frequency the
//   window stores reads back unchanged from the text it writes into the edit.
#include <cerrno>
#include <climits>
#include <clocale>
#include <cmath>
#include <cstdlib>
#include <locale.h>
#include <string>

#include "fuzz/FuzzCheck.h"
#include "measure/NumberText.h"

namespace {

constexpr size_t kMaxText = 256; // longer pastes add nothing new

// The grammars, written out once more: blanks are spaces and tabs.
class Grammar {
public:
    explicit Grammar(const std::string& text) : t_(text) {}

    // blanks, [sign], digits [. digits] or . digits, [e|E [sign] digits], blanks
    bool Decimal()
    {
        Blanks();
        Sign();
        const size_t whole = Digits();
        size_t fraction = 0;
        if (Take('.'))
            fraction = Digits();
        if (whole + fraction == 0)
            return false;
        if (Take('e') || Take('E')) {
            Sign();
            if (Digits() == 0)
                return false;
        }
        Blanks();
        return i_ == t_.size();
    }

    // blanks, [sign], digits, blanks
    bool Whole()
    {
        Blanks();
        Sign();
        if (Digits() == 0)
            return false;
        Blanks();
        return i_ == t_.size();
    }

private:
    bool Take(char c)
    {
        if (i_ < t_.size() && t_[i_] == c) {
            ++i_;
            return true;
        }
        return false;
    }
    void Blanks()
    {
        while (Take(' ') || Take('\t')) {
        }
    }
    void Sign() { Take('+') || Take('-'); }
    size_t Digits()
    {
        const size_t from = i_;
        while (i_ < t_.size() && t_[i_] >= '0' && t_[i_] <= '9')
            ++i_;
        return i_ - from;
    }

    const std::string& t_;
    size_t i_ = 0;
};

locale_t CLocale()
{
    static const locale_t loc = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
    return loc;
}

// The text without the blanks (space, tab) around it.
std::string Core(const std::string& text)
{
    const size_t b = text.find_first_not_of(" \t");
    if (b == std::string::npos)
        return std::string();
    const size_t e = text.find_last_not_of(" \t");
    return text.substr(b, e - b + 1);
}

void CheckDecimal(const std::string& text)
{
    const std::optional<Extended> parsed = ParseDecimal(text);
    if (!Grammar(text).Decimal()) {
        FUZZ_CHECK(!parsed.has_value());
        return;
    }
    const std::string core = Core(text);
    char* end = nullptr;
    const Extended reference = strtold_l(core.c_str(), &end, CLocale());
    FUZZ_CHECK(end == core.c_str() + core.size()); // the grammar is a part of strtold's
    if (!std::isfinite(reference)) {
        FUZZ_CHECK(!parsed.has_value());
        return;
    }
    FUZZ_CHECK(parsed.has_value());
    FUZZ_CHECK(*parsed == reference);
    FUZZ_CHECK(std::signbit(*parsed) == std::signbit(reference));
}

void CheckWhole(const std::string& text)
{
    const std::optional<int32_t> parsed = ParseWhole32(text);
    if (!Grammar(text).Whole()) {
        FUZZ_CHECK(!parsed.has_value());
        return;
    }
    const std::string core = Core(text);
    errno = 0;
    char* end = nullptr;
    const long long reference = std::strtoll(core.c_str(), &end, 10);
    FUZZ_CHECK(end == core.c_str() + core.size());
    if (errno == ERANGE || reference < INT32_MIN || reference > INT32_MAX) {
        FUZZ_CHECK(!parsed.has_value());
        return;
    }
    FUZZ_CHECK(parsed.has_value());
    FUZZ_CHECK(*parsed == reference);
}

void CheckKHz(const std::string& text)
{
    // As the frequency edits take a text: its number of MHz (0 when it does not parse) in kHz.
    const Extended exact = ParseDecimal(text).value_or(0) * 1000;
    const long long kHz = KHzFromMHz(ParseDecimal(text).value_or(0));
    if (!(exact < static_cast<Extended>(LLONG_MAX))) {
        FUZZ_CHECK(kHz == LLONG_MAX);
        return;
    }
    if (!(exact > static_cast<Extended>(LLONG_MIN))) {
        FUZZ_CHECK(kHz == LLONG_MIN);
        return;
    }
    const Extended off = fabsl(exact - static_cast<Extended>(kHz));
    FUZZ_CHECK(off < 0.5L || (off == 0.5L && kHz % 2 == 0));
    // The range the frequency edits accept; a rejected entry gets the stored value back
    // as text, which must read as the same kHz when the person leaves the field again.
    if (kHz >= 0 && kHz <= 550000) {
        const std::string shown = FormatMHz(static_cast<int32_t>(kHz));
        FUZZ_CHECK(KHzFromMHz(ParseDecimal(shown).value_or(-1)) == kHz);
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    // The parsers must not follow the process locale; run them under one with ',' as the
    // decimal separator where it is installed.
    std::setlocale(LC_ALL, "de_DE.UTF-8");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > kMaxText)
        return 0;
    const std::string text(reinterpret_cast<const char*>(data), size);
    CheckDecimal(text);
    CheckWhole(text);
    CheckKHz(text);
    return 0;
}
