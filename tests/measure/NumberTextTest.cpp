#include <gtest/gtest.h>

#include "measure/NumberText.h"

TEST(ParseDecimalTest, AcceptsTheDecimalForms)
{
    struct Case { const char* text; long double value; };
    const Case good[] = {
        {"550", 550}, {"550.0004", 550.0004L}, {" -1 ", -1}, {"1e12", 1e12L}, {"+3", 3},
        {".5", 0.5L}, {"5.", 5}, {"2.5E-3", 0.0025L}, {"\t7\t", 7},
    };
    for (const Case& c : good) {
        const auto v = ParseDecimal(c.text);
        ASSERT_TRUE(v.has_value()) << c.text;
        EXPECT_EQ(*v, c.value) << c.text;
    }
}

TEST(ParseDecimalTest, RejectsAnythingElse)
{
    for (const char* text : {"1.2.3", ".", "", "   ", "1,5", "+", "-", "1e", "1e+", "e5", "12a", "abc",
                             "1 2", "--1", "0x10", "inf", "nan", "1e99999"})
        EXPECT_FALSE(ParseDecimal(text).has_value()) << '"' << text << '"';
}

TEST(ParseWhole32Test, SignedThirtyTwoBit)
{
    EXPECT_EQ(ParseWhole32("4000"), 4000);
    EXPECT_EQ(ParseWhole32("-5"), -5);
    EXPECT_EQ(ParseWhole32(" +12 "), 12);
    EXPECT_EQ(ParseWhole32("2147483647"), 2147483647);
    EXPECT_EQ(ParseWhole32("-2147483648"), INT32_MIN);
    for (const char* text : {"", "2147483648", "-2147483649", "99999999999999999999", "1.0", "1e3", "-", "12 3"})
        EXPECT_FALSE(ParseWhole32(text).has_value()) << '"' << text << '"';
}

TEST(FormatGeneralTest, ShortestFormUpToFifteenDigits)
{
    EXPECT_EQ(FormatGeneral(100 / 1000.0L), "0.1");
    EXPECT_EQ(FormatGeneral(180000 / 1000.0L), "180");
    EXPECT_EQ(FormatGeneral(14025 / 1000.0L), "14.025");
    EXPECT_EQ(FormatGeneral(7), "7");
    EXPECT_EQ(FormatGeneral(1900 / 1000.0L), "1.9");
    EXPECT_EQ(FormatGeneral(400000000), "400000000");
    EXPECT_EQ(FormatGeneral(3435.9738368L), "3435.9738368");
    EXPECT_EQ(FormatGeneral(4294967296000.0L / 1300000000), "3303.82099692308");
    EXPECT_EQ(FormatGeneral(-0.0L), "0");
    EXPECT_EQ(FormatGeneral(-2.5L), "-2.5");
}

TEST(FormatFixedTest, RoundsHalfEvenOnTheBinaryValue)
{
    EXPECT_EQ(FormatFixed(0.125L, 2), "0.12");
    EXPECT_EQ(FormatFixed(0.375L, 2), "0.38");
    EXPECT_EQ(FormatFixed(-1.25L, 1), "-1.2");
    EXPECT_EQ(FormatFixed(12345.678L, 1), "12345.7");
    EXPECT_EQ(FormatFixed(1e20L, 0), "100000000000000000000");
}

TEST(FormatRoundTripTest, ReadsBackExactly)
{
    for (long double v : {0.1L, 1.0L / 3, 179.6402L, 553.62L, -20.0L, 1e-30L, 9999.0L}) {
        const std::string text = FormatRoundTrip(v);
        const auto back = ParseDecimal(text);
        ASSERT_TRUE(back.has_value()) << text;
        EXPECT_EQ(*back, v) << text;
    }
    EXPECT_EQ(FormatRoundTrip(0.1L), "0.1");
}
