#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "measure/Sweep.h"
#include "measure/Touchstone.h"
#include "measure/TouchstoneReader.h"

namespace {

// Files as simulators, other programs and people write them: what the first point reads as
// (MHz, return loss in dB, size of the phase), or the refusal.
struct Row {
    const char* Name;
    const char* Text;
    double FreqMHz = 0, RLdB = 0, PhaseDeg = 0;
    const char* Error = nullptr;
};

const Row kRows[] = {
    {"own file", "! Kestrin VNA\n! Saved x\n# MHz S MA R 50\n7 0.5 30\n7.1 0.25 170\n", 7, 6.0206, 30},
    {"option words in any order and case, tabs, trailing blanks", "#\tma r 50 s mhz  \n\n  7\t0.5\t30   \n", 7, 6.0206, 30},
    {"no option line: GHz S MA R 50", "! from a simulator\n0.007 0.5 -30\n", 7, 6.0206, 30},
    {"Hz and dB", "# Hz S DB R 50\n7000000 -6.0206 -90\n", 7, 6.0206, 90},
    {"kHz and real/imaginary", "# KHZ S RI\n7000 0 0.5\n", 7, 6.0206, 90},
    {"75 ohm: a 75 ohm load is 0.2 at 50 ohm", "# MHz S MA R 75\n7 0 0\n", 7, 13.9794, 0},
    {"75 ohm: an open stays an open", "# MHz S RI R 75\n7 1 0\n", 7, 0, 0},
    {"angle beyond 180 degrees", "# MHz S MA R 50\n7 0.5 270\n", 7, 6.0206, 90},
    {"comment after the values, CRLF", "# MHz S MA R 50\r\n7 0.5 30 ! trimmed\r\n", 7, 6.0206, 30},
    {"option line without blank after #", "#GHz S MA R 50\n0.007 0.5 30\n", 7, 6.0206, 30},
    {"version 2, one port", "[Version] 2.0\n# MHz S MA R 50\n[Number of Ports] 1\n[Number of Frequencies] 1\n"
                            "[Network Data]\n7 0.5 30\n[End]\n", 7, 6.0206, 30},
    {"version 2, its [Reference] on the next line", "[Version] 2.0\n# MHz S RI R 50\n[Number of Ports] 1\n"
                                                   "[Reference]\n75\n[Matrix Format] Full\n[Begin Information]\n"
                                                   "anything\n[End Information]\n[Network Data]\n7 0 0\n[End]\n",
     7, 13.9794, 0},
    {"falling frequency", "# MHz S MA R 50\n7 0.5 30\n7.2 0.5 30\n7.1 0.5 30\n", 0, 0, 0,
     "Line 4: a frequency must be larger than the one before it."},
    {"repeated frequency", "# MHz S MA R 50\n7 0.5 30\n7 0.5 30\n", 0, 0, 0,
     "Line 3: a frequency must be larger than the one before it."},
    {"two-port data", "# MHz S MA R 50\n7 0.5 30 0.1 0 0.1 0 0.5 30\n", 0, 0, 0,
     "Line 2: a one-port data line holds 3 numbers, the frequency and S11, not 9."},
    {"not a number", "# MHz S MA R 50\n7 0,5 30\n", 0, 0, 0, "Line 2: '0,5' is not a number."},
    {"Z parameters", "# MHz Z MA R 50\n7 50 0\n", 0, 0, 0, "Line 1: only S parameters can be read, not Z parameters."},
    {"unknown option word", "# MHz S MA R 50 XYZ\n7 0.5 30\n", 0, 0, 0,
     "Line 1: the option line cannot hold 'XYZ' (it reads like # MHz S MA R 50)."},
    {"R without resistance", "# MHz S MA R\n7 0.5 30\n", 0, 0, 0, "Line 1: R needs a resistance in ohm larger than 0."},
    {"option line after data", "7 0.5 30\n# MHz S MA R 50\n", 0, 0, 0, "Line 2: the option line must come before the data."},
    {"negative magnitude", "# MHz S MA R 50\n7 -0.5 30\n", 0, 0, 0, "Line 2: a magnitude cannot be negative."},
    {"negative frequency", "# MHz S MA R 50\n-7 0.5 30\n", 0, 0, 0, "Line 2: a frequency cannot be negative."},
    {"two ports, version 2", "[Version] 2.0\n# MHz S MA R 50\n[Number of Ports] 2\n", 0, 0, 0,
     "Line 3: the file holds 2 ports; a reference is a one-port file (.s1p)."},
    {"only comments", "! nothing\n\n# MHz S MA R 50\n", 0, 0, 0, "The file holds no data lines."},
};

TEST(TouchstoneReader, ReadsRealWorldVariantsAndNamesTheFaultyLine)
{
    for (const Row& row : kRows) {
        SCOPED_TRACE(row.Name);
        const TouchstoneReading r = ReadTouchstoneText(row.Text);
        if (row.Error != nullptr) {
            EXPECT_EQ(r.Error, row.Error);
            EXPECT_TRUE(r.Points.empty());
            continue;
        }
        ASSERT_EQ(r.Error, "");
        ASSERT_FALSE(r.Points.empty());
        EXPECT_NEAR(double(r.Points[0].FreqMHz), row.FreqMHz, 1e-9);
        EXPECT_NEAR(double(r.Points[0].RLdB), row.RLdB, 1e-4);
        EXPECT_NEAR(double(r.Points[0].PhaseDeg), row.PhaseDeg, 1e-9);
    }

    std::string many = "# Hz S MA R 50\n";
    for (size_t k = 1; k <= MaxTouchstonePoints + 1; ++k)
        many += std::to_string(k) + " 0.5 30\n";
    EXPECT_EQ(ReadTouchstoneText(many).Error, "Line 100002: a reference holds at most 100000 frequencies.");

    EXPECT_EQ(TouchstonePortsOfName("dipole.s1p"), 1);
    EXPECT_EQ(TouchstonePortsOfName("/home/x/DIPOLE.S1P"), 1);
    EXPECT_EQ(TouchstonePortsOfName("filter.s2p"), 2);
    EXPECT_EQ(TouchstonePortsOfName("a.s1p/notes.txt"), 0);
}

TEST(TouchstoneReader, TheProgramsOwnFileGivesBackEverySample)
{
    std::vector<uint8_t> raw;
    for (int i = 0; i < 50; ++i)
        raw.insert(raw.end(), {uint8_t(i * 20), uint8_t(i * 20 >> 8), uint8_t(400 + i * 7), uint8_t((400 + i * 7) >> 8)});
    TVNAList list;
    MarkerState m1, m2;
    int32_t lowest = -1;
    RebuildSweep(list, raw.data(), SweepShape{7000, 7300, 50}, 1.5L, DefaultPhaseScale, m1, m2, lowest);
    TouchstoneSource source;
    source.Shape = SweepShape{7000, 7300, 50};
    const TouchstoneReading r = ReadTouchstoneText(SweepTouchstone(list, source));
    ASSERT_EQ(r.Error, "");
    TVNAList read;
    TouchstoneList(r.Points, read);
    ASSERT_EQ(read.Count(), 50);
    for (int i = 0; i < 50; ++i) {
        const TVNAEntry& a = *list.GetEntry(i);
        const TVNAEntry& b = *read.GetEntry(i);
        EXPECT_NEAR(double(b.FreqMHz), double(a.FreqMHz), 1e-12);
        EXPECT_NEAR(double(b.RLdB), double(a.RLdB), 1e-9);
        EXPECT_NEAR(double(b.PhaseDeg), double(a.PhaseDeg), 1e-9);
        EXPECT_NEAR(double(b.SWR), double(a.SWR), 1e-9);
        EXPECT_NEAR(double(b.Z), double(a.Z), 1e-6);
        EXPECT_NEAR(double(b.Rs), double(a.Rs), 1e-6);
    }
}

} // namespace
