// Setup files: what is written, what is read back, and how a bad line is refused.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>

#include "acquisition/SweepSetup.h"

using namespace kestrin;

namespace {

// Every value a setup holds, with a marker left unset.
SweepSetup Full()
{
    SweepSetup s;
    s.Model = 1;
    s.StartKHz = 7000;
    s.EndKHz = 7300;
    s.Steps = 400;
    s.DdsClockHz = 1250000000;
    s.RLCalDb = -1.25L;
    s.Marker1MHz = 7.0735L;
    s.Marker2MHz = 0;
    s.Traces = {true, false, true, false, false, true};
    s.Calculator1 = {true, 47};
    s.Calculator2 = {false, 2.2L};
    s.FrequencyScale = false;
    return s;
}

const std::string FullText = "Kestrin VNA setup 1\n"
                             "model = Corvel - 500MHz\n"
                             "start_mhz = 7\n"
                             "end_mhz = 7.3\n"
                             "steps = 400\n"
                             "dds_clock_hz = 1250000000\n"
                             "rl_cal_db = -1.25\n"
                             "marker1_mhz = 7.0735\n"
                             "marker2_mhz = none\n"
                             "trace_swr = on\n"
                             "trace_rl = off\n"
                             "trace_phase = on\n"
                             "trace_z = off\n"
                             "trace_xs = off\n"
                             "trace_rs = on\n"
                             "calc1_finds = L\n"
                             "calc1_value = 47\n"
                             "calc2_finds = C\n"
                             "calc2_value = 2.2\n"
                             "frequency_scale = off\n";

} // namespace

TEST(SetupFile, WrittenReadAndWrittenAgainByteForByte)
{
    EXPECT_EQ(SetupText(Full()), FullText);
    const SetupReading back = ReadSetupText(FullText);
    ASSERT_EQ(back.Error, "");
    EXPECT_EQ(back.Setup, Full());
    EXPECT_EQ(SetupText(back.Setup), FullText);

    // A marker from a click is a sample's frequency, with more digits than the window shows:
    // the file holds the window's 15 digits, which read and write back unchanged.
    SweepSetup clicked;
    clicked.Marker1MHz = 180.0L / 499 * 37 + 0.1L;
    const std::string text = SetupText(clicked);
    EXPECT_EQ(text, "Kestrin VNA setup 1\nmarker1_mhz = 13.4466933867735\n");
    EXPECT_EQ(SetupText(ReadSetupText(text).Setup), text);
}

TEST(SetupFile, HandEditedFilesAndNewerOnesOpen)
{
    // Blanks, comments, Windows line ends, any case of key and word; unknown keys and a newer
    // version are passed over; what is left out stays unset.
    const SetupReading r = ReadSetupText("\xEF\xBB\xBFKestrin VNA setup 3\r\n"
                                         "# the 40 m dipole\r\n"
                                         "\r\n"
                                         "  START_MHz=7.0004 \r\n"
                                         "model = corvel - 180mhz\r\n"
                                         "sweep_colour = green\r\n"
                                         "trace_Rs = YES\r\n"
                                         "calc2_finds = c\r\n"
                                         "marker2_mhz = 0");
    ASSERT_EQ(r.Error, "");
    SweepSetup expected;
    expected.StartKHz = 7000;
    expected.Model = 0;
    expected.Traces[TraceRs] = true;
    expected.Calculator2.FindsL = false;
    expected.Marker2MHz = 0;
    EXPECT_EQ(r.Setup, expected);
}

TEST(SetupFile, ABadLineIsNamedWithTheRuleItBreaks)
{
    const struct {
        const char* line;
        const char* message;
    } cases[] = {
        {"steps = 9", "Steps must be between 10 and 4000."},
        {"steps = many", "Steps must be between 10 and 4000."},
        {"steps = 4001", "Steps must be between 10 and 4000."},
        {"start_mhz = 550.001", "Frequency can not be higher than 550 MHz."},
        {"end_mhz = -1", "Frequency can not be lower than 0 MHz."},
        {"end_mhz = 7,1", "end_mhz needs a number of MHz, not '7,1'."},
        {"dds_clock_hz = 0", "DDS frequency must be between 1 and 1300000000 Hz."},
        {"dds_clock_hz = 99999999999", "DDS frequency must be between 1 and 1300000000 Hz."},
        {"rl_cal_db = ", "rl_cal_db needs a number of dB, not ''."},
        {"marker1_mhz = 600", "Frequency can not be higher than 550 MHz."},
        {"marker2_mhz = off", "marker2_mhz needs a number of MHz or none, not 'off'."},
        {"trace_z = maybe", "trace_z is on or off, not 'maybe'."},
        {"calc1_finds = R", "calc1_finds is L or C, not 'R'."},
        {"calc2_value = 1e99999", "calc2_value needs a number, not '1e99999'."},
        {"model = Corvel - 900MHz",
         "Unknown analyser model 'Corvel - 900MHz': Corvel - 180MHz or Corvel - 500MHz."},
        {"just some words", "A setup line reads key = value, not 'just some words'."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        // The bad line is the fourth, after good ones and before more.
        const SetupReading r =
            ReadSetupText(std::string("Kestrin VNA setup 1\nsteps = 1000\n\n") + c.line + "\nstart_mhz = 3\n");
        EXPECT_EQ(r.Error, std::string("Line 4: ") + c.message);
    }
    for (const char* first : {"", "Kestrin VNA setup", "Kestrin VNA setup 0", "Kestrin VNA setupx 1", "\x89PNG"}) {
        SCOPED_TRACE(first);
        EXPECT_EQ(ReadSetupText(std::string(first) + "\nsteps = 100\n").Error,
                  "Line 1: This is not a Kestrin VNA setup; its first line would read \"Kestrin VNA setup 1\".");
    }
}

TEST(SetupFile, AFileThatCannotBeReadSaysWhichAndWhy)
{
    const std::filesystem::path dir =
        std::filesystem::temp_directory_path() /
        ("kestrin-setup-test-" + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
    std::filesystem::create_directories(dir);
    const std::string missing = (dir / "missing.kvsetup").string();
    EXPECT_EQ(ReadSetupFile(missing).Error, "Cannot open " + missing + ": No such file or directory");

    const std::string bad = (dir / "bad.kvsetup").string();
    std::FILE* f = std::fopen(bad.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fputs("Kestrin VNA setup 1\nstart_mhz = 7\nend_mhz = 7.3\nsteps = 5\n", f);
    std::fclose(f);
    EXPECT_EQ(ReadSetupFile(bad).Error, "Cannot open " + bad + ": Line 4: Steps must be between 10 and 4000.");

    // Something far larger than a setup is not read into memory.
    f = std::fopen(bad.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    const std::string block(1 << 16, '#');
    for (int i = 0; i < 20; ++i)
        std::fputs(block.c_str(), f);
    std::fclose(f);
    EXPECT_EQ(ReadSetupFile(bad).Error, "Cannot open " + bad + ": The file is too large for a setup (over 1 MiB).");
    std::filesystem::remove_all(dir);
}

TEST(SetupFile, KeepsAveragingAndTheSwrBandwidth)
{
    SweepSetup s;
    s.Average = 4;
    s.BandwidthSwr = 1.5L;
    const std::string text = SetupText(s);
    EXPECT_EQ(text, "Kestrin VNA setup 1\naverage = 4\nswr_bandwidth = 1.5\n");
    EXPECT_EQ(ReadSetupText(text).Setup, s);
    s.Average = 1;
    s.BandwidthSwr = 0;
    EXPECT_EQ(SetupText(s), "Kestrin VNA setup 1\naverage = off\nswr_bandwidth = off\n");
    EXPECT_EQ(ReadSetupText(SetupText(s)).Setup, s);
    EXPECT_EQ(ReadSetupText("Kestrin VNA setup 1\naverage = 3\n").Error, "Line 2: average is off, 2, 4, 8 or 16, not '3'.");
    EXPECT_EQ(ReadSetupText("Kestrin VNA setup 1\nswr_bandwidth = 2.5\n").Error,
              "Line 2: swr_bandwidth is off, 1.5, 2 or 3, not '2.5'.");
}
