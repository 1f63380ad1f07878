#include <gtest/gtest.h>

#include <clocale>
#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

#include "measure/NumberText.h"
#include "measure/Readouts.h"
#include "measure/Sweep.h"

namespace {

constexpr Extended kPhaseScale = 0.17578125L;

TVNAEntry WorkedSample()
{
    const uint8_t bytes[] = {0x00, 0x02, 0x00, 0x02};
    TVNAEntry e;
    ComputeEntry(e, bytes, 10, 0, kPhaseScale);
    return e;
}

std::vector<std::string> Columns(const ReadoutRow& r)
{
    return {r.F, r.SWR, r.RL, r.Phase, r.Z, r.Rs, r.Xs, r.L, r.C, r.Q};
}

const std::vector<std::string> kWorkedTexts = {"10.000", "1.92", "10.0", "90.0", "50.00",
                                                "40.91", "28.75", "0.5", "553.6", "0.7"};

// Puts the process under a locale with ',' as decimal separator for one test.
class GermanLocale : public ::testing::Test {
protected:
    void SetUp() override
    {
        previous_ = std::setlocale(LC_ALL, nullptr);
        if (!std::setlocale(LC_ALL, "de_DE.UTF-8"))
            GTEST_SKIP() << "locale de_DE.UTF-8 is not installed (scripts/install-deps.sh installs it)";
        char buf[16];
        std::snprintf(buf, sizeof buf, "%.1f", 1.5);
        ASSERT_STREQ(buf, "1,5") << "the locale does not change the separator";
    }
    void TearDown() override { std::setlocale(LC_ALL, previous_.c_str()); }

private:
    std::string previous_;
};

} // namespace

TEST(ReadoutRowTest, WorkedSampleTexts)
{
    EXPECT_EQ(Columns(FormatReadoutRow(WorkedSample())), kWorkedTexts);
}

TEST(ReadoutRowTest, LargeValuesWithoutGrouping)
{
    TVNAEntry e;
    e.Q = 9999;
    e.CpF = 12345.678L;
    const ReadoutRow r = FormatReadoutRow(e);
    EXPECT_EQ(r.Q, "9999.0");
    EXPECT_EQ(r.C, "12345.7");
    EXPECT_EQ(r.F, "0.000");
}

TEST_F(GermanLocale, TextsKeepThePoint)
{
    EXPECT_EQ(Columns(FormatReadoutRow(WorkedSample())), kWorkedTexts);
    EXPECT_EQ(EvaluateCalculator(14.2L, 100, CalcMode::CalculateL).Result, "1.256");
    EXPECT_EQ(FormatGeneral(0.1L), "0.1");
    ASSERT_TRUE(ParseDecimal("1.5").has_value());
    EXPECT_EQ(*ParseDecimal("1.5"), 1.5L);
    EXPECT_FALSE(ParseDecimal("1,5").has_value());
    EXPECT_NE(SweepCsv(TVNAList()).find("SWR"), std::string::npos);
}

TEST(CalculatorTest, ResonanceAtThreePrecisions)
{
    struct Case { Extended f, v; CalcMode mode; const char* result; };
    const Case cases[] = {
        {10, 100, CalcMode::CalculateL, "2.533"},
        {10, 100, CalcMode::CalculateC, "2.533"},
        {14.2L, 100, CalcMode::CalculateL, "1.256"},
        {1.8L, 100, CalcMode::CalculateL, "78.18"},
        {0.1L, 100, CalcMode::CalculateL, "25330.3"},
        {0.1L, 1, CalcMode::CalculateC, "2533029.6"},
    };
    for (const Case& c : cases) {
        const CalculatorTexts t = EvaluateCalculator(c.f, c.v, c.mode);
        EXPECT_EQ(t.Result, c.result) << double(c.f);
        EXPECT_EQ(t.Freq, FormatFixed(c.f, 3));
    }
}

TEST(CalculatorTest, EmptyResultWithoutMarkerOrValue)
{
    const CalculatorTexts unset = EvaluateCalculator(0, 100, CalcMode::CalculateL);
    EXPECT_EQ(unset.Freq, "0.000");
    EXPECT_EQ(unset.Result, "");

    const CalculatorTexts noValue = EvaluateCalculator(14.2L, 0, CalcMode::CalculateC);
    EXPECT_EQ(noValue.Freq, "14.200");
    EXPECT_EQ(noValue.Result, "");

    EXPECT_EQ(EvaluateCalculator(14.2L, -5, CalcMode::CalculateL).Result, "");
    EXPECT_EQ(EvaluateCalculator(14.2L, 1e-4945L, CalcMode::CalculateL).Result, "");
}

TEST(SweepCsvTest, OneLinePerSampleAgreeingWithTheReadouts)
{
    std::vector<uint8_t> raw;
    for (int i = 0; i < 50; ++i) {
        const int phase = (i * 37) % 1024, rl = (i * 91) % 1024;
        raw.insert(raw.end(), {uint8_t(phase & 0xFF), uint8_t(phase >> 8), uint8_t(rl & 0xFF), uint8_t(rl >> 8)});
    }
    TVNAList list;
    MarkerState m1, m2;
    int32_t minSwr = -1;
    RebuildSweep(list, raw.data(), SweepShape{100, 30000, 50}, 0, kPhaseScale, m1, m2, minSwr);

    std::istringstream csv(SweepCsv(list));
    std::string line;
    ASSERT_TRUE(std::getline(csv, line));
    EXPECT_EQ(line, "Frequency (MHz),SWR,Return loss (dB),Phase (deg),|Z| (ohm),Rs (ohm),|Xs| (ohm),L (uH),C (pF),Q");
    int32_t i = 0;
    while (std::getline(csv, line)) {
        ASSERT_LT(i, list.Count());
        std::vector<Extended> values;
        std::istringstream fields(line);
        std::string field;
        while (std::getline(fields, field, ',')) {
            const auto v = ParseDecimal(field);
            ASSERT_TRUE(v.has_value()) << field;
            values.push_back(*v);
        }
        ASSERT_EQ(values.size(), 10u) << line;
        TVNAEntry back;
        back.FreqMHz = values[0];
        back.SWR = values[1];
        back.RLdB = values[2];
        back.PhaseDeg = values[3];
        back.Z = values[4];
        back.Rs = values[5];
        back.Xs = values[6];
        back.LuH = values[7];
        back.CpF = values[8];
        back.Q = values[9];
        EXPECT_EQ(Columns(FormatReadoutRow(back)), Columns(FormatReadoutRow(*list.GetEntry(i)))) << line;
        ++i;
    }
    EXPECT_EQ(i, list.Count());
}
