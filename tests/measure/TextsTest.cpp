#include <gtest/gtest.h>

#include <chrono>
#include <clocale>
#include <charconv>
#include <cmath>
#include <sstream>
#include <vector>

#include "measure/NumberText.h"
#include "measure/Readouts.h"
#include "measure/Sweep.h"
#include "measure/Touchstone.h"

namespace {

constexpr Extended kPhaseScale = 0.17578125L;

std::vector<std::string> Columns(const ReadoutRow& r)
{
    return {r.F, r.SWR, r.RL, r.Phase, r.Z, r.Rs, r.Xs, r.L, r.C, r.Q};
}

// Every text runs under the C locale and under one with ',' as the decimal separator.
// A test program starts in the C locale and goes back to it after each test.
class Texts : public ::testing::TestWithParam<const char*> {
protected:
    void SetUp() override
    {
        if (!std::setlocale(LC_ALL, GetParam()))
            GTEST_SKIP() << "locale " << GetParam() << " is not installed (scripts/install-deps.sh installs it)";
    }
    void TearDown() override { std::setlocale(LC_ALL, "C"); }
};

INSTANTIATE_TEST_SUITE_P(Locales, Texts, ::testing::Values("C", "de_DE.UTF-8"));

} // namespace

TEST_P(Texts, ParseDecimalAcceptsTheDecimalFormsOnly)
{
    const struct { const char* text; Extended value; } good[] = {
        {"550", 550}, {"550.0004", 550.0004L}, {" -1 ", -1}, {"1e12", 1e12L}, {"+3", 3},
        {".5", 0.5L}, {"5.", 5}, {"2.5E-3", 0.0025L}, {"\t7\t", 7},
    };
    for (const auto& c : good)
        EXPECT_EQ(ParseDecimal(c.text), std::optional<Extended>(c.value)) << c.text;
    for (const char* text : {"1.2.3", ".", "", "   ", "1,5", "+", "-", "1e", "1e+", "e5", "12a", "abc",
                             "1 2", "--1", "0x10", "inf", "nan", "1e99999"})
        EXPECT_FALSE(ParseDecimal(text).has_value()) << '"' << text << '"';
}

TEST_P(Texts, ParseWhole32IsSignedThirtyTwoBit)
{
    const struct { const char* text; std::optional<int32_t> value; } cases[] = {
        {"4000", 4000}, {"-5", -5}, {" +12 ", 12}, {"2147483647", 2147483647}, {"-2147483648", INT32_MIN},
        {"", {}}, {"2147483648", {}}, {"-2147483649", {}}, {"99999999999999999999", {}},
        {"1.0", {}}, {"1e3", {}}, {"-", {}}, {"12 3", {}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ParseWhole32(c.text), c.value) << '"' << c.text << '"';
}

TEST_P(Texts, GeneralIsShortestFixedRoundsHalfEvenRoundTripReadsBack)
{
    const struct { Extended value; const char* text; } general[] = {
        {100 / 1000.0L, "0.1"}, {180000 / 1000.0L, "180"}, {14025 / 1000.0L, "14.025"}, {7, "7"},
        {400000000, "400000000"}, {3435.9738368L, "3435.9738368"},
        {4294967296000.0L / 1300000000, "3303.82099692308"}, {-0.0L, "0"}, {-2.5L, "-2.5"},
    };
    for (const auto& c : general)
        EXPECT_EQ(FormatGeneral(c.value), c.text);
    const struct { Extended value; int decimals; const char* text; } fixed[] = {
        {0.125L, 2, "0.12"}, {0.375L, 2, "0.38"}, {-1.25L, 1, "-1.2"}, {12345.678L, 1, "12345.7"},
        {1e20L, 0, "100000000000000000000"},
    };
    for (const auto& c : fixed)
        EXPECT_EQ(FormatFixed(c.value, c.decimals), c.text);
}

TEST_P(Texts, ReadoutRowOfTheWorkedSampleAndLargeValuesWithoutGrouping)
{
    const uint8_t bytes[] = {0x00, 0x02, 0x00, 0x02};
    TVNAEntry e;
    ComputeEntry(e, bytes, 10, 0, kPhaseScale);
    EXPECT_EQ(Columns(FormatReadoutRow(e)), (std::vector<std::string>{"10.000", "1.92", "10.0", "90.0", "50.00",
                                                                      "40.91", "28.75", "0.5", "553.6", "0.7"}));
    e.Q = 9999;
    e.CpF = 12345.678L;
    EXPECT_EQ(FormatReadoutRow(e).Q, "9999.0");
    EXPECT_EQ(FormatReadoutRow(e).C, "12345.7");
}

TEST_P(Texts, CalculatorResonanceAtThreePrecisionsEmptyWithoutMarkerOrValue)
{
    const struct { Extended f, v; CalcMode mode; const char* texts; } cases[] = { // frequency, result
        {10, 100, CalcMode::CalculateL, "10.000 2.533"}, {14.2L, 100, CalcMode::CalculateL, "14.200 1.256"},
        {1.8L, 100, CalcMode::CalculateL, "1.800 78.18"}, {0.1L, 100, CalcMode::CalculateL, "0.100 25330.3"},
        {0.1L, 1, CalcMode::CalculateC, "0.100 2533029.6"}, {0, 100, CalcMode::CalculateL, "0.000 "},
        {14.2L, 0, CalcMode::CalculateC, "14.200 "}, {14.2L, -5, CalcMode::CalculateL, "14.200 "},
        {14.2L, 1e-4945L, CalcMode::CalculateL, "14.200 "},
    };
    for (const auto& c : cases) {
        const CalculatorTexts t = EvaluateCalculator(c.f, c.v, c.mode);
        EXPECT_EQ(t.Freq + ' ' + t.Result, c.texts) << double(c.v);
    }
}

TEST_P(Texts, SweepCsvHasOneLinePerSampleAgreeingWithTheReadouts)
{
    TVNAList list;
    for (int i = 0; i < 50; ++i) {
        const int phase = (i * 37) % 1024, rl = (i * 91) % 1024;
        const uint8_t bytes[] = {uint8_t(phase & 0xFF), uint8_t(phase >> 8), uint8_t(rl & 0xFF), uint8_t(rl >> 8)};
        ComputeEntry(*list.NewEntry(), bytes, 0.1L + 0.5996L * i, 0, kPhaseScale);
    }
    std::istringstream csv(SweepCsv(list));
    std::string line, field;
    ASSERT_TRUE(std::getline(csv, line));
    EXPECT_EQ(line, "Frequency (MHz),SWR,Return loss (dB),Phase (deg),|Z| (ohm),Rs (ohm),|Xs| (ohm),L (uH),C (pF),Q");
    Extended TVNAEntry::* const fields[] = {&TVNAEntry::FreqMHz, &TVNAEntry::SWR, &TVNAEntry::RLdB,
                                           &TVNAEntry::PhaseDeg, &TVNAEntry::Z, &TVNAEntry::Rs, &TVNAEntry::Xs,
                                           &TVNAEntry::LuH, &TVNAEntry::CpF, &TVNAEntry::Q};
    int32_t i = 0;
    for (; std::getline(csv, line); ++i) {
        std::istringstream in(line);
        TVNAEntry back;
        for (Extended TVNAEntry::*f : fields) {
            ASSERT_TRUE(std::getline(in, field, ',')) << line;
            back.*f = ParseDecimal(field).value_or(-1e9L);
        }
        EXPECT_FALSE(std::getline(in, field, ',')) << "more than ten fields: " << line;
        EXPECT_EQ(Columns(FormatReadoutRow(back)), Columns(FormatReadoutRow(*list.GetEntry(i)))) << line;
    }
    EXPECT_EQ(i, list.Count());
}

namespace {

// Significant digits of a number text: "0.00720" and "7.2e-03" have two.
size_t SignificantDigits(const std::string& text)
{
    std::string digits;
    for (char c : text.substr(0, text.find_first_of("eE")))
        if (c >= '0' && c <= '9')
            digits += c;
    const size_t first = digits.find_first_not_of('0');
    return first == std::string::npos ? 0 : digits.find_last_not_of('0') + 1 - first;
}

// A number text read as a script reads it, whatever the locale.
double ReadDouble(const std::string& text)
{
    double value = -1;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return error == std::errc() && end == text.data() + text.size() ? value : NAN;
}

} // namespace

TEST_P(Texts, SweepCsvNumbersAreTheShortestTextsOfTheirDoubles)
{
    TVNAList list;
    const uint8_t bytes[][4] = {{0x00, 0x02, 0x00, 0x02}, {0x35, 0x01, 0x10, 0x00}, {0xFF, 0x03, 0xFE, 0x03}};
    for (const auto& b : bytes)
        ComputeEntry(*list.NewEntry(), b, 0.1L + 0.1399L * list.Count(), 0, kPhaseScale);
    // Values as a sweep leaves them, with long double noise in the last digits.
    TVNAEntry& noisy = *list.GetEntry(0);
    noisy.FreqMHz = 7.0728459999999999997L;
    noisy.SWR = 36.187940000000000003L;
    noisy.Q = 100000;
    noisy.CpF = 1e-30L;

    std::istringstream csv(SweepCsv(list));
    std::string line, field;
    std::getline(csv, line); // header
    Extended TVNAEntry::* const fields[] = {&TVNAEntry::FreqMHz, &TVNAEntry::SWR, &TVNAEntry::RLdB,
                                           &TVNAEntry::PhaseDeg, &TVNAEntry::Z, &TVNAEntry::Rs, &TVNAEntry::Xs,
                                           &TVNAEntry::LuH, &TVNAEntry::CpF, &TVNAEntry::Q};
    std::vector<std::vector<std::string>> rows;
    for (int32_t i = 0; std::getline(csv, line); ++i) {
        ASSERT_LT(i, list.Count());
        std::istringstream in(line);
        rows.emplace_back();
        for (Extended TVNAEntry::*f : fields) {
            ASSERT_TRUE(std::getline(in, field, ',')) << line;
            rows.back().push_back(field);
            const double value = static_cast<double>(list.GetEntry(i)->*f);
            // What a spreadsheet or script reads is the value's double...
            EXPECT_EQ(ReadDouble(field), value) << field;
            // ...and one significant digit fewer would not read back as it.
            const size_t digits = SignificantDigits(field);
            if (digits > 1) {
                char shorter[64];
                char* end = std::to_chars(shorter, shorter + sizeof shorter, value, std::chars_format::general,
                                                int(digits - 1)).ptr;
                EXPECT_NE(ReadDouble(std::string(shorter, end)), value) << field << " is not the shortest";
            }
        }
    }
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0][0], "7.072846");
    EXPECT_EQ(rows[0][1], "36.18794");
    EXPECT_EQ(rows[0][8], "1e-30");
    EXPECT_EQ(rows[0][9], "100000");
    EXPECT_EQ(rows[1][0], "0.2399");
}

TEST_P(Texts, ShortestDoubleTextsWithoutExponentFromATenThousandthToAQuadrillion)
{
    const struct { double value; const char* text; } cases[] = {
        {7.072846, "7.072846"}, {180, "180"}, {-2.5, "-2.5"}, {0.1, "0.1"}, {1.0 / 3, "0.3333333333333333"},
        {0.0001, "0.0001"}, {0.00001234, "1.234e-05"}, {123456789012345.6, "123456789012345.6"},
        {1e15, "1e+15"}, {-0.0, "0"}, {1e300, "1e+300"}, {HUGE_VAL, "inf"}, {-HUGE_VAL, "-inf"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(FormatShortestDouble(c.value), c.text);
}

TEST_P(Texts, TouchstoneCommentsOptionLineAndEachSampleReadingBackExactly)
{
    TVNAList list;
    MarkerState m1, m2;
    int32_t minSwr = -1;
    const uint8_t raw[] = {0x00, 0x02, 0x00, 0x02, 0x34, 0x07, 0xFF, 0x03, 0xFF, 0x03, 0x10, 0x01};
    RebuildSweep(list, raw, SweepShape{7000, 7300, 3}, -0.25L, kPhaseScale, m1, m2, minSwr);
    TouchstoneSource source{"Kestrin VNA 9.9", "2026-12-08T14:05:43.123Z", "/dev/ttyUSB0\nstray\rline",
                            SweepShape{7000, 7300, 3}, 400000000, -0.25L};
    std::istringstream file(SweepTouchstone(list, source));
    std::vector<std::string> lines;
    for (std::string line; std::getline(file, line);)
        lines.push_back(line);
    ASSERT_EQ(lines.size(), 9u);
    EXPECT_EQ(std::vector<std::string>(lines.begin(), lines.begin() + 4),
              (std::vector<std::string>{"! Kestrin VNA 9.9", "! Saved 2026-12-08T14:05:43.123Z",
                                        "! Port /dev/ttyUSB0 stray line",
                                        "! Sweep: start 7 MHz, end 7.3 MHz, 3 steps, DDS clock 400000000 Hz, R.L. "
                                        "calibration -0.25 dB"}));
    EXPECT_EQ(lines[4].substr(0, 2), "! ");
    EXPECT_EQ(lines[5], "# MHz S MA R 50");
    // Frequency, Rho and phase; each text reads back as the very number (so it carries far
    // more than 9 significant digits where the number has them).
    for (int32_t i = 0; i < 3; ++i) {
        const TVNAEntry& e = *list.GetEntry(i);
        std::istringstream in(lines[size_t(6 + i)]);
        std::string f, rho, phase, rest;
        ASSERT_TRUE(in >> f >> rho >> phase) << lines[size_t(6 + i)];
        EXPECT_FALSE(in >> rest) << lines[size_t(6 + i)];
        EXPECT_EQ(double(ParseDecimal(f).value_or(-1)), double(e.FreqMHz)) << f;
        EXPECT_EQ(double(ParseDecimal(rho).value_or(-1)), double(e.Rho)) << rho;
        EXPECT_EQ(double(ParseDecimal(phase).value_or(-1)), double(e.PhaseDeg)) << phase;
    }
    EXPECT_EQ(lines[6].substr(0, 2), "7 ");
    EXPECT_EQ(lines[8].substr(0, 4), "7.2 ");
}

TEST(UtcTime, IsoTextToTheMillisecond)
{
    using std::chrono::milliseconds;
    const std::chrono::system_clock::time_point epoch{};
    EXPECT_EQ(UtcTimeText(epoch), "1970-01-01T00:00:00.000Z");
    EXPECT_EQ(UtcTimeText(epoch + milliseconds(1709251199999)), "2024-02-29T23:59:59.999Z");
    EXPECT_EQ(UtcTimeText(epoch + milliseconds(1796738743123)), "2026-12-08T14:05:43.123Z");
}
