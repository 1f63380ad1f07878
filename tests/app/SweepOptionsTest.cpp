// kestrin-vna-sweep's command line: the window's defaults, its ranges and messages, and
// how the format is chosen.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "app/SweepOptions.h"

using namespace kestrin;

namespace {

SweepOptionsResult Parse(const std::string& line)
{
    std::vector<std::string> arguments;
    std::istringstream words(line);
    for (std::string w; words >> w;)
        arguments.push_back(w == "''" ? std::string() : w);
    return ParseSweepOptions(arguments);
}

} // namespace

TEST(SweepOptions, DefaultsAreTheWindowsAndValuesAreTakenInEitherForm)
{
    const SweepOptionsResult plain = Parse("--port /dev/ttyUSB0");
    ASSERT_EQ(plain.Error, "");
    const SweepOptions& d = plain.Options;
    EXPECT_EQ(d.Port, "/dev/ttyUSB0");
    EXPECT_EQ(d.StartKHz, 100);
    EXPECT_EQ(d.EndKHz, 180000);
    EXPECT_EQ(d.Steps, 500);
    EXPECT_EQ(d.DdsClockHz, 400000000);
    EXPECT_EQ(d.RLCalDb, 0);
    EXPECT_EQ(d.Count, 1);
    EXPECT_EQ(d.Format, SweepFormat::Csv);
    EXPECT_EQ(d.Output, "");

    const SweepOptionsResult set = Parse("--port=simulator --start 14.0004 --end=550 --steps 4000 --clock=1300000000 "
                                         "--cal -1.5 --count 0 --format summary --output log");
    ASSERT_EQ(set.Error, "");
    const SweepOptions& o = set.Options;
    EXPECT_TRUE(IsSimulatorPort(o.Port));
    EXPECT_EQ(o.StartKHz, 14000); // rounded to whole kHz as the window rounds
    EXPECT_EQ(o.EndKHz, 550000);
    EXPECT_EQ(o.Steps, 4000);
    EXPECT_EQ(o.DdsClockHz, 1300000000);
    EXPECT_EQ(o.RLCalDb, -1.5L);
    EXPECT_EQ(o.Count, 0);
    EXPECT_EQ(o.Format, SweepFormat::Summary);
    EXPECT_EQ(o.Output, "log");

    // A decimal comma, as the window's frequency fields take it typed.
    const SweepOptions comma = Parse("--port p --start 7,1 --end=7,2").Options;
    EXPECT_EQ(comma.StartKHz, 7100);
    EXPECT_EQ(comma.EndKHz, 7200);

    EXPECT_TRUE(Parse("--help --frobnicate").Options.Help);
    EXPECT_TRUE(Parse("--version").Options.Version);
}

TEST(SweepOptions, BadValuesGetTheWindowsMessagesAndTheRestTheirOwn)
{
    const struct { const char* line; const char* error; } cases[] = {
        {"--port p --steps 9", "Steps must be between 10 and 4000."},
        {"--port p --steps 4001", "Steps must be between 10 and 4000."},
        {"--port p --steps 12.5", "Steps must be between 10 and 4000."},
        {"--port p --end 550.001", "Frequency can not be higher than 550 MHz."},
        {"--port p --start 1e12", "Frequency can not be higher than 550 MHz."},
        {"--port p --start -1", "Frequency can not be lower than 0 MHz."},
        {"--port p --start 7,1,2", "--start needs a number of MHz, not '7,1,2'."},
        {"--port p --clock 0", "DDS frequency must be between 1 and 1300000000 Hz."},
        {"--port p --clock 1300000001", "DDS frequency must be between 1 and 1300000000 Hz."},
        {"--port p --clock 99999999999", "DDS frequency must be between 1 and 1300000000 Hz."},
        {"--port p --start abc", "--start needs a number of MHz, not 'abc'."},
        {"--port p --cal 1,5", "--cal needs a number of dB, not '1,5'."},
        {"--port p --count -1", "--count needs a whole number of 0 or more, not '-1'."},
        {"--port p --format xml", "Unknown format 'xml' (csv, s1p or summary)."},
        {"--port p --format s1p --count 2", "A Touchstone file holds one sweep: the s1p format needs --count 1."},
        {"--port p --output a.s1p --count 0", "A Touchstone file holds one sweep: the s1p format needs --count 1."},
        {"--port p --output sweep.dat", "The name 'sweep.dat' does not tell the format: give --format csv, s1p or summary."},
        {"--port p --output ''", "--output needs a file name."},
        {"--start 1", "Which analyser? Give --port with its device path, or --port simulator."},
        {"--port p --frobnicate", "Unknown option '--frobnicate'."},
        {"--port p stray", "Unexpected argument 'stray'."},
        {"--port p --steps", "Option '--steps' needs a value."},
        {"--port p --average 17", "--average needs a number of sweeps from 1 to 16, not '17'."},
        {"--port p --bandwidth-swr 0.9", "--bandwidth-swr needs an SWR from 1 to 100, not '0.9'."},
        {"--port p --average 4 --format s1p --count 0",
         "A Touchstone file holds one sweep: with --average, the s1p format needs a --count of 1 or more (the mean "
         "of the last sweeps is written)."},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Parse(c.line).Error, c.error) << c.line;
    // The boundaries the window accepts.
    for (const char* line : {"--port p --steps 10", "--port p --start 0 --end 550", "--port p --clock 1",
                             "--port p --start 550.0004", "--port p --end 0.1 --start 30",
                             "--port p --average 4 --count 4 --format s1p"})
        EXPECT_EQ(Parse(line).Error, "") << line;
    const SweepOptions averaged = Parse("--port p --average 16 --bandwidth-swr 1,5").Options;
    EXPECT_EQ(averaged.Average, 16);
    EXPECT_EQ(averaged.BandwidthSwr, 1.5L);
}

TEST(SweepOptions, TheOutputsSuffixChoosesTheFormatUnlessOneIsGiven)
{
    const struct { const char* line; SweepFormat format; } cases[] = {
        {"--port p", SweepFormat::Csv},
        {"--port p --output a.csv", SweepFormat::Csv},
        {"--port p --output dir.v2/A.S1P", SweepFormat::Touchstone},
        {"--port p --output log.tsv --count 0", SweepFormat::Summary},
        {"--port p --output log.txt", SweepFormat::Summary},
        {"--port p --output sweep.dat --format csv", SweepFormat::Csv},
        {"--port p --format s1p", SweepFormat::Touchstone},
    };
    for (const auto& c : cases) {
        const SweepOptionsResult r = Parse(c.line);
        EXPECT_EQ(r.Error, "") << c.line;
        EXPECT_EQ(r.Options.Format, c.format) << c.line;
    }
}

TEST(SweepOptions, ASetupGivesWhatTheCommandLineLeavesOut)
{
    const std::string path =
        (std::filesystem::temp_directory_path() /
         ("kestrin-sweep-options-" + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()) +
          ".kvsetup"))
            .string();
    std::FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    // The 500 MHz model sets end, steps and clock, and the file's own values come after it;
    // the markers and traces are the window's business.
    std::fputs("Kestrin VNA setup 1\nmodel = Corvel - 500MHz\nstart_mhz = 144\nsteps = 800\n"
               "rl_cal_db = 0.5\nmarker1_mhz = 145\ntrace_rs = on\n", f);
    std::fclose(f);

    for (const std::string& order : {"--setup " + path + " --steps 40", "--steps 40 --setup=" + path}) {
        SCOPED_TRACE(order);
        const SweepOptionsResult r = Parse("--port p " + order);
        ASSERT_EQ(r.Error, "");
        EXPECT_EQ(r.Options.StartKHz, 144000);
        EXPECT_EQ(r.Options.EndKHz, 500000);
        EXPECT_EQ(r.Options.Steps, 40); // the command line wins wherever it stands
        EXPECT_EQ(r.Options.DdsClockHz, 1250000000);
        EXPECT_EQ(r.Options.RLCalDb, 0.5L);
    }
    std::remove(path.c_str());
    EXPECT_EQ(Parse("--port p --setup " + path).Error, "Cannot open " + path + ": No such file or directory");
}
