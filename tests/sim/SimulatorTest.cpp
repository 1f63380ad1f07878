#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <sys/stat.h>
#include <thread>

#include "PtyClient.h"
#include "measure/Sweep.h"
#include "platform/PortTable.h"
#include "sim/Simulator.h"
#include "sim/SimulatorPort.h"

using namespace kestrin::sim;

namespace {

constexpr Extended kPhaseScale = 0.17578125L;

SimConfig FastConfig(LoadKind kind = LoadKind::Antenna)
{
    SimConfig config;
    config.Load.Kind = kind;
    config.Pace = Pacing::Fast;
    return config;
}

// A running simulator and a client on its terminal.
struct Bench {
    explicit Bench(SimConfig config) : sim(config)
    {
        std::string error;
        started = sim.Start(error);
        EXPECT_TRUE(started) << error;
        if (started)
            client = std::make_unique<PtyClient>(sim.SlavePath());
    }
    Simulator sim;
    bool started = false;
    std::unique_ptr<PtyClient> client;
};

std::string Request(int64_t start, int32_t steps, int64_t step)
{
    return "0\r" + std::to_string(start) + "\r" + std::to_string(steps) + "\r" + std::to_string(step) + "\r";
}

TVNAEntry Decode(const uint8_t* sample, Extended freqMHz)
{
    TVNAEntry e;
    ComputeEntry(e, sample, freqMHz, 0, kPhaseScale);
    return e;
}

} // namespace

TEST(SimulatorWire, DefaultSweepAndLargestSweep)
{
    Bench b(FastConfig());
    ASSERT_TRUE(b.client && b.client->IsOpen());

    ASSERT_TRUE(b.client->Send(kDefaultRequest));
    const auto reply = b.client->Collect();
    EXPECT_EQ(reply.size(), 2000u);
    EXPECT_EQ(reply, BuildReply(FastConfig(), SweepRequest{1073742, 500, 3863323}));

    ASSERT_TRUE(b.client->Send(Request(1073742, 4000, 482915)));
    EXPECT_EQ(b.client->Collect().size(), 16000u);
    EXPECT_EQ(b.sim.RequestsAnswered(), 2);
}

TEST(SimulatorWire, RequestSplitOverManyWritesAndBackToBack)
{
    Bench b(FastConfig());
    ASSERT_TRUE(b.client && b.client->IsOpen());
    for (char c : kDefaultRequest)
        ASSERT_TRUE(b.client->Send(std::string(1, c)));
    EXPECT_EQ(b.client->Collect().size(), 2000u);

    ASSERT_TRUE(b.client->Send(Request(1073742, 10, 1) + Request(1073742, 20, 1)));
    EXPECT_EQ(b.client->Collect().size(), 120u);
}

TEST(SimulatorWire, GarbledRequestsAreIgnored)
{
    Bench b(FastConfig());
    ASSERT_TRUE(b.client && b.client->IsOpen());
    // A bad number, a line feed, an impossible step count, stray bytes, an overlong line.
    ASSERT_TRUE(b.client->Send("0\r10737x2\r500\r3863323\r"));
    ASSERT_TRUE(b.client->Send("0\r\n1073742\r\n500\r\n3863323\r\n"));
    ASSERT_TRUE(b.client->Send(Request(1073742, 0, 1) + Request(1073742, 4001, 1)));
    ASSERT_TRUE(b.client->Send(std::string("\x01\xff\x00garbage\r", 11)));
    ASSERT_TRUE(b.client->Send("0\r" + std::string(5000, '1') + "\r10\r1\r"));
    EXPECT_EQ(b.client->Collect(200).size(), 0u);

    ASSERT_TRUE(b.client->Send(kDefaultRequest));
    EXPECT_EQ(b.client->Collect().size(), 2000u);
    EXPECT_TRUE(b.sim.Serving());
}

TEST(RequestParserTest, TakesOnlyWholeRequests)
{
    RequestParser parser;
    EXPECT_TRUE(parser.Feed("0\r1073742\r50").empty());
    const auto done = parser.Feed("0\r3863323\r");
    ASSERT_EQ(done.size(), 1u);
    EXPECT_EQ(done[0].StartWord, 1073742);
    EXPECT_EQ(done[0].Steps, 500);
    EXPECT_EQ(done[0].StepWord, 3863323);

    // A bad line drops the request; a "0" in its place starts the next one at once.
    const auto after = parser.Feed("0\r5\r0\r7\r10\r-3\r");
    ASSERT_EQ(after.size(), 1u);
    EXPECT_EQ(after[0].StartWord, 7);
    EXPECT_EQ(after[0].StepWord, -3);

    EXPECT_TRUE(parser.Feed("1\r2\r3\r4\r").empty());
    EXPECT_TRUE(parser.Feed("0\r+5\r10\r1\r").empty());
    EXPECT_TRUE(parser.Feed("0\r99999999999999999999\r10\r1\r").empty());
}

TEST(SimulatorRoundTrip, IdealLoadsDecodeAsThemselves)
{
    const SweepRequest request{1073742, 50, 3863323};

    const auto matched = BuildReply(FastConfig(LoadKind::Matched), request);
    const auto open = BuildReply(FastConfig(LoadKind::Open), request);
    const auto shorted = BuildReply(FastConfig(LoadKind::Short), request);
    for (int32_t i = 0; i < request.Steps; ++i) {
        const Extended f = SampleFreqHz(FastConfig(), request, i) / 1e6L;
        const TVNAEntry m = Decode(&matched[4 * size_t(i)], f);
        EXPECT_EQ(m.RawRL, 1023);
        EXPECT_LT(m.SWR, 1.03);
        EXPECT_NEAR(double(m.Rs), 50.0, 1.1);
        EXPECT_LT(m.Xs, 1e-9);

        // |gamma| 1 is 20 / 0.05859375 = 341.33 counts; phase 0 and 180 degrees.
        const TVNAEntry o = Decode(&open[4 * size_t(i)], f);
        EXPECT_EQ(o.RawRL, 341);
        EXPECT_EQ(o.RawPhase, 0);
        EXPECT_GT(o.SWR, 500);
        EXPECT_GT(o.Rs, 10000);

        const TVNAEntry s = Decode(&shorted[4 * size_t(i)], f);
        EXPECT_EQ(s.RawRL, 341);
        EXPECT_EQ(s.RawPhase, 1023);
        EXPECT_LT(s.Rs, 0.1);
        EXPECT_LT(s.Xs, 0.2);
        EXPECT_GT(s.SWR, 500);
    }
}

TEST(SimulatorRoundTrip, KnownImpedancesWithinOneCount)
{
    struct Case { Extended r, luH, cpF; };
    // At 10 MHz: 30 + j40, 100 - j159.2, 12 + j62.8, 50 + j5.
    const Case cases[] = {{30, 40 / (6.283185307179586477L * 10), 0}, {100, 0, 100}, {12, 1, 0}, {50, 5 / (6.283185307179586477L * 10), 0}};
    const int64_t tenMHzWord = 107374182; // 10 MHz at 400 MHz
    for (const Case& c : cases) {
        SimConfig config = FastConfig(LoadKind::SeriesRLC);
        config.Load.R = c.r;
        config.Load.LuH = c.luH;
        config.Load.CpF = c.cpF;
        const SweepRequest request{tenMHzWord, 1, 0};
        const auto bytes = BuildReply(config, request);
        ASSERT_EQ(bytes.size(), 4u);
        const Extended f = SampleFreqHz(config, request, 0) / 1e6L;
        const TVNAEntry got = Decode(bytes.data(), f);

        // The true values of the load.
        const Gamma g = LoadGamma(config.Load, f * 1e6L);
        const Extended w = 6.283185307179586477L * f * 1e6L;
        const Extended x = w * c.luH * 1e-6L - (c.cpF > 0 ? 1 / (w * c.cpF * 1e-12L) : 0);
        const Extended trueSwr = (1 + std::abs(g)) / (1 - std::abs(g));

        // Each count is the true one rounded.
        const Extended exactRl = (-20 * log10l(std::abs(g)) + 20) / 0.05859375L;
        const Extended exactPhase = fabsl(atan2l(g.imag(), g.real())) * 57.295779513082320877L / 0.17578125L;
        EXPECT_LE(fabsl(got.RawRL - exactRl), 0.5L + 1e-9L) << double(c.r);
        EXPECT_LE(fabsl(got.RawPhase - exactPhase), 0.5L + 1e-9L) << double(c.r);

        // The true SWR, Rs and |Xs| lie within what one count either way decodes to.
        Extended lo[3] = {1e30L, 1e30L, 1e30L}, hi[3] = {-1e30L, -1e30L, -1e30L};
        for (int dp = -1; dp <= 1; ++dp) {
            for (int dr = -1; dr <= 1; ++dr) {
                const int p = got.RawPhase + dp, r = got.RawRL + dr;
                const uint8_t s[4] = {uint8_t(p & 0xFF), uint8_t(p >> 8), uint8_t(r & 0xFF), uint8_t(r >> 8)};
                const TVNAEntry e = Decode(s, f);
                const Extended v[3] = {e.SWR, e.Rs, e.Xs};
                for (int k = 0; k < 3; ++k) {
                    lo[k] = std::min(lo[k], v[k]);
                    hi[k] = std::max(hi[k], v[k]);
                }
            }
        }
        const Extended truth[3] = {trueSwr, c.r, fabsl(x)};
        for (int k = 0; k < 3; ++k) {
            EXPECT_GE(truth[k], lo[k]) << "load " << double(c.r) << " quantity " << k;
            EXPECT_LE(truth[k], hi[k]) << "load " << double(c.r) << " quantity " << k;
        }
    }
}

TEST(SimulatorRoundTrip, AntennaDipsInTheBands)
{
    const SimConfig config = FastConfig();
    for (Extended mhz : {3.6L, 7.1L, 14.2L, 28.5L}) {
        const SweepRequest request{llrintl(mhz * 1e6L * 4294967296.0L / 400e6L), 1, 0};
        const auto bytes = BuildReply(config, request);
        EXPECT_LT(Decode(bytes.data(), mhz).SWR, 1.5) << double(mhz);
    }
    for (Extended mhz : {1.8L, 5.3L, 10.1L, 21.2L}) {
        const SweepRequest request{llrintl(mhz * 1e6L * 4294967296.0L / 400e6L), 1, 0};
        const auto bytes = BuildReply(config, request);
        EXPECT_GT(Decode(bytes.data(), mhz).SWR, 3) << double(mhz);
    }
}

TEST(SimulatorRoundTrip, ClockSetsTheSampleFrequencies)
{
    SimConfig config = FastConfig();
    const SweepRequest request{1073742, 3, 1000};
    EXPECT_NEAR(double(SampleFreqHz(config, request, 0)), 100000.0, 0.1);
    config.ClockHz = 1250000000;
    EXPECT_NEAR(double(SampleFreqHz(config, request, 2)), (1073742.0 + 2000) * 1250000000.0 / 4294967296.0, 1e-3);
}

TEST(SimulatorFaults, SilentShortSurplusHighBytes)
{
    {
        SimConfig config = FastConfig();
        config.Mode = Fault::Silent;
        Bench b(config);
        ASSERT_TRUE(b.client && b.client->IsOpen());
        ASSERT_TRUE(b.client->Send(kDefaultRequest));
        EXPECT_EQ(b.client->Collect(300).size(), 0u);
        EXPECT_TRUE(b.sim.Serving());
    }
    {
        SimConfig config = FastConfig();
        config.Mode = Fault::Short;
        config.FaultBytes = 6;
        Bench b(config);
        ASSERT_TRUE(b.client && b.client->IsOpen());
        ASSERT_TRUE(b.client->Send(kDefaultRequest));
        EXPECT_EQ(b.client->Collect().size(), 1994u);
    }
    {
        SimConfig config = FastConfig();
        config.Mode = Fault::Surplus;
        config.FaultBytes = 6;
        Bench b(config);
        ASSERT_TRUE(b.client && b.client->IsOpen());
        ASSERT_TRUE(b.client->Send(kDefaultRequest));
        EXPECT_EQ(b.client->Collect().size(), 2006u);
    }
    {
        SimConfig config = FastConfig();
        config.Mode = Fault::HighBytes;
        Bench b(config);
        ASSERT_TRUE(b.client && b.client->IsOpen());
        ASSERT_TRUE(b.client->Send(kDefaultRequest));
        const auto got = b.client->Collect();
        const auto clean = BuildReply(FastConfig(), SweepRequest{1073742, 500, 3863323});
        ASSERT_EQ(got.size(), 2000u);
        for (size_t i = 0; i < got.size(); ++i) {
            if (i % 2 == 1) {
                EXPECT_GT(got[i], 3) << i;
                // The decoder ignores such a high byte: the count is the low byte alone.
                EXPECT_EQ(DecodeCount(got[i - 1], got[i]), got[i - 1]);
            } else {
                EXPECT_EQ(got[i], clean[i]) << i;
            }
        }
    }
}

TEST(SimulatorFaults, VanishMidReplyHangsUpTheTerminal)
{
    SimConfig config = FastConfig();
    config.Mode = Fault::Vanish;
    config.FaultBytes = 1000;
    Bench b(config);
    ASSERT_TRUE(b.client && b.client->IsOpen());
    ASSERT_TRUE(b.client->Send(kDefaultRequest));
    const auto got = b.client->Collect(2000);
    EXPECT_EQ(got.size(), 1000u);
    EXPECT_TRUE(b.client->HungUp());
    for (int i = 0; i < 100 && b.sim.Serving(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_FALSE(b.sim.Serving());
}

TEST(SimulatorPacing, RealPacingTakesTheLineTime)
{
    SimConfig config = FastConfig();
    config.Pace = Pacing::Real;
    Bench b(config);
    ASSERT_TRUE(b.client && b.client->IsOpen());
    const auto begin = std::chrono::steady_clock::now();
    ASSERT_TRUE(b.client->Send(Request(1073742, 288, 3863323))); // 1152 bytes: 100 ms on the line
    const auto got = b.client->Collect(150);
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - begin).count() - 150;
    EXPECT_EQ(got.size(), 1152u);
    EXPECT_GE(ms, 90);
    EXPECT_LT(ms, 400);
}

TEST(SimulatorLifecycle, StopsWhileTheProgramDoesNotRead)
{
    // 16000 bytes do not fit the terminal's queue: the simulator waits to write and must still stop at once.
    auto sim = std::make_unique<Simulator>(FastConfig());
    std::string error;
    ASSERT_TRUE(sim->Start(error)) << error;
    PtyClient client(sim->SlavePath());
    ASSERT_TRUE(client.IsOpen());
    ASSERT_TRUE(client.Send(Request(1073742, 4000, 482915)));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const auto begin = std::chrono::steady_clock::now();
    sim.reset();
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - begin).count();
    EXPECT_LT(ms, 500);
    client.Collect(100);
    EXPECT_TRUE(client.HungUp());
}

TEST(SimulatorLifecycle, SimulatorPortOpensAnInProcessAnalyser)
{
    kestrin::RegisterSimulatorPort(4711);
    const auto entry = kestrin::FindPort(4711);
    ASSERT_TRUE(entry.has_value());
    ASSERT_TRUE(entry->openVirtual);
    EXPECT_TRUE(entry->path.empty());

    std::string path;
    std::shared_ptr<void> keeper = entry->openVirtual(path);
    ASSERT_TRUE(keeper);
    ASSERT_FALSE(path.empty());
    {
        PtyClient client(path);
        ASSERT_TRUE(client.IsOpen());
        ASSERT_TRUE(client.Send(Request(1073742, 100, 3863323 * 5)));
        EXPECT_EQ(client.Collect(200).size(), 400u);

        // A second opening is a second, independent analyser.
        std::string other;
        std::shared_ptr<void> keeper2 = entry->openVirtual(other);
        ASSERT_TRUE(keeper2);
        EXPECT_NE(other, path);

        keeper.reset();
        client.Collect(100);
        EXPECT_TRUE(client.HungUp());
    }
    struct stat st{};
    EXPECT_NE(stat(path.c_str(), &st), 0);
    kestrin::RemovePort(4711);
}

TEST(SimulatorLifecycle, SimulatorPortFollowsTheProgramsClock)
{
    // The 500 MHz model: 14.2 MHz is a different tuning word at 1.25 GHz.
    kestrin::RegisterSimulatorPort(4712, [] { return int64_t{1250000000}; });
    std::string path;
    std::shared_ptr<void> keeper = kestrin::FindPort(4712)->openVirtual(path);
    ASSERT_TRUE(keeper);
    PtyClient client(path);
    ASSERT_TRUE(client.IsOpen());
    const int64_t word = llrintl(14.2e6L * 4294967296.0L / 1.25e9L);
    ASSERT_TRUE(client.Send(Request(word, 1, 0) + Request(word * 1250 / 400, 1, 0)));
    const auto got = client.Collect(200);
    ASSERT_EQ(got.size(), 8u);
    EXPECT_LT(Decode(got.data(), 14.2L).SWR, 1.5);
    EXPECT_GT(Decode(got.data() + 4, 44.375L).SWR, 3);
    kestrin::RemovePort(4712);
}
