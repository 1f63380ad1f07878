#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <string>

#include "acquisition/SweepRequest.h"
#include "acquisition/TComThread.h"

TEST(SweepRequest, WordsRoundHalfToEvenAndKeepTheirSign)
{
    const Extended tf = TuningFactorForClock(400000000);
    EXPECT_EQ(tf, 10737.41824L);
    struct Case { int32_t startKHz, endKHz, steps; Extended tf; int64_t start, step; };
    const Case cases[] = {
        {100, 180000, 500, tf, 1073742, 3863323},
        {5, 5, 10, 0.5L, 2, 0},                    // 2.5 -> 2
        {7, 7, 10, 0.5L, 4, 0},                    // 3.5 -> 4
        {0, 5, 2, 1.0L, 0, 2},                     // 5 / 2 = 2.5 -> 2
        {0, 7, 2, 1.0L, 0, 4},                     // 7 / 2 = 3.5 -> 4
        {30000, 1000, 500, tf, 322122547, -622770}, // -29000 x tf / 500 = -622770.258
        {0, 550000, 10, TuningFactorForClock(1), 0, 55000LL * 4294967296000LL}, // the widest, still 64 bits
    };
    for (const Case& c : cases) {
        const SweepWords w = EncodeSweep(c.startKHz, c.endKHz, c.steps, c.tf);
        EXPECT_EQ(w.Start, c.start) << c.startKHz << ".." << c.endKHz;
        EXPECT_EQ(w.Step, c.step) << c.startKHz << ".." << c.endKHz;
    }
    const std::array<std::string, 4> lines = {"0\r", "1073742\r", "500\r", "3863323\r"};
    EXPECT_EQ(RequestLines(EncodeSweep(100, 180000, 500, tf), 500), lines);
    EXPECT_EQ(RequestLines(EncodeSweep(30000, 1000, 500, tf), 500)[3], "-622770\r");
}

// The reply time limit measures silence on the clock, not the total time of a reply nor a
// number of looks at it.
TEST(ReplySilence, SilenceNotTotalTimeEndsAReply)
{
    using namespace std::chrono_literals;
    const TReplySilence::Clock::time_point t0{};
    TReplySilence silence;
    silence.Restart(t0);
    EXPECT_FALSE(silence.Silent(0, t0 + 1999ms));
    EXPECT_TRUE(silence.Silent(0, t0 + 2000ms)) << "an analyser that never starts its reply";

    // A slow analyser: a byte every 1.9 s for a minute is never cut off, however often it
    // is looked at, and the silence after its last byte counts from that byte.
    for (const auto look : {10ms, 50ms, 950ms}) {
        silence.Restart(t0);
        auto now = t0;
        uint32_t received = 0;
        bool cut = false;
        for (; now < t0 + 60s; now += look) {
            const auto sinceStart = now - t0;
            received = uint32_t(sinceStart / 1900ms);
            cut = cut || silence.Silent(received, now);
        }
        EXPECT_FALSE(cut) << "looking every " << look.count() << " ms";
        const auto lastByte = t0 + 1900ms * received;
        EXPECT_FALSE(silence.Silent(received, lastByte + 1999ms - look));
        EXPECT_TRUE(silence.Silent(received, lastByte + 2000ms + look));
    }

    // A new request starts afresh, whatever was counted before.
    silence.Restart(t0 + 100s);
    EXPECT_FALSE(silence.Silent(0, t0 + 101s));
    EXPECT_FALSE(silence.Silent(5, t0 + 102500ms));
}
