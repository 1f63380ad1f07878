#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <complex>
#include <sys/ioctl.h>
#include <thread>

#include "measure/Sweep.h"
#include "platform/PortTable.h"
#include "sim/Simulator.h"
#include "sim/SimulatorPort.h"
#include "support/Pty.h"

using namespace kestrin::sim;

namespace {

const SimConfig kFast{.Load = {}, .Pace = Pacing::Fast};
const std::string kDefaultRequest = "0\r1073742\r500\r3863323\r";

std::string Request(int64_t start, int32_t steps, int64_t step)
{
    return "0\r" + std::to_string(start) + "\r" + std::to_string(steps) + "\r" + std::to_string(step) + "\r";
}

// A running simulator and the program's side of its terminal.
struct Bench {
    explicit Bench(const SimConfig& config) : sim(config), started(sim.Start(error)), client(sim.SlavePath())
    {
        EXPECT_TRUE(started) << error;
    }
    Simulator sim;
    std::string error;
    bool started;
    Pty client;
};

TVNAEntry Decode(const void* sample, Extended freqMHz)
{
    TVNAEntry e;
    ComputeEntry(e, static_cast<const uint8_t*>(sample), freqMHz, 0, 0.17578125L);
    return e;
}

// Tuning word of a frequency at the 400 MHz clock.
int64_t Word(Extended mhz) { return llrintl(mhz * 1e6L * 4294967296.0L / 400e6L); }

} // namespace

TEST(SimulatorWire, IgnoresGarbledRequestsAndAnswersWholeOnesWithStepsTimesFourBytes)
{
    Bench b(kFast);
    // A bad number, line feeds, impossible step counts, stray bytes, an overlong line.
    ASSERT_TRUE(b.client.Send("0\r10737x2\r500\r3863323\r"));
    ASSERT_TRUE(b.client.Send("0\r\n1073742\r\n500\r\n3863323\r\n"));
    ASSERT_TRUE(b.client.Send(Request(1073742, 0, 1) + Request(1073742, 4001, 1)));
    ASSERT_TRUE(b.client.Send(std::string("\x01\xff\x00garbage\r", 11)));
    ASSERT_TRUE(b.client.Send("0\r" + std::string(5000, '1') + "\r10\r1\r"));
    EXPECT_EQ(b.client.Receive(200).size(), 0u);

    // The default sweep, one byte per write.
    for (char c : kDefaultRequest)
        ASSERT_TRUE(b.client.Send(std::string(1, c)));
    const std::string reply = b.client.ReceiveAtLeast(2000, 20000, 300);
    EXPECT_EQ(std::vector<uint8_t>(reply.begin(), reply.end()), BuildReply(kFast, SweepRequest{1073742, 500, 3863323}));

    ASSERT_TRUE(b.client.Send(Request(1073742, 4000, 482915)));
    EXPECT_EQ(b.client.ReceiveAtLeast(16000, 20000, 300).size(), 16000u);
    ASSERT_TRUE(b.client.Send(Request(1073742, 10, 1) + Request(1073742, 20, 1)));
    EXPECT_EQ(b.client.ReceiveAtLeast(120, 20000, 300).size(), 120u);
    EXPECT_EQ(b.sim.RequestsAnswered(), 4);

    // 16000 bytes do not fit the terminal's queue: while the program does not read, the
    // simulator waits to write, and still stops at once.
    ASSERT_TRUE(b.client.Send(Request(1073742, 4000, 482915)));
    ASSERT_TRUE(PumpUntil([&] { int queued = 0; return ioctl(b.client.fd, FIONREAD, &queued) == 0 && queued > 0; }, 20000))
        << "the reply has begun";
    const auto begin = std::chrono::steady_clock::now();
    b.sim.Stop();
    EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::seconds(2)) << "Stop is prompt";
    b.client.ReceiveAtLeast(16000, 20000);
    EXPECT_TRUE(b.client.hungUp);
}

TEST(RequestParserTest, DropsARequestLeftUnfinishedForAQuarterSecond)
{
    using std::chrono::milliseconds;
    RequestParser parser;
    const auto t0 = std::chrono::steady_clock::now();
    // The program stopped half-way through a request: the next one is not read as its remainder.
    EXPECT_TRUE(parser.Feed("0\r1073742\r500\r", t0).empty());
    const auto next = parser.Feed("0\r1073742\r10\r1\r", t0 + milliseconds(300));
    ASSERT_EQ(next.size(), 1u);
    EXPECT_EQ(next[0].Steps, 10);
    // Lines within the gap belong together.
    EXPECT_TRUE(parser.Feed("0\r5\r", t0 + milliseconds(400)).empty());
    const auto whole = parser.Feed("10\r1\r", t0 + milliseconds(600));
    ASSERT_EQ(whole.size(), 1u);
    EXPECT_EQ(whole[0].StartWord, 5);
}

TEST(SimulatorRoundTrip, IdealLoadsDecodeAsThemselves)
{
    // |gamma| 0 is beyond the top count; |gamma| 1 is 20 / 0.05859375 = 341.33 counts, sent
    // as 342, the lowest count of a passive load (341 would read as -0.02 dB, an SWR of 889
    // from a load that gives back more than it gets); 180 degrees is 1024 counts, limited to 1023.
    const struct { LoadKind kind; int32_t rl, phase; double swrMin, swrMax, rsMin, rsMax, xsMax; } cases[] = {
        {LoadKind::Matched, 1023, 0, 1, 1.03, 48.9, 51.1, 1e-9},
        {LoadKind::Open, 342, 0, 400, 1e9, 10000, 1e9, 1e9},
        {LoadKind::Short, 342, 1023, 400, 1e9, 0, 0.12, 0.2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(LoadKindName(c.kind));
        const TVNAEntry e = Decode(BuildReply({.Load = {c.kind}}, SweepRequest{Word(10), 1, 0}).data(), 10);
        EXPECT_EQ(std::pair(e.RawRL, e.RawPhase), std::pair(c.rl, c.phase));
        EXPECT_GE(e.RLdB, 0);
        EXPECT_TRUE(e.SWR >= c.swrMin && e.SWR <= c.swrMax) << double(e.SWR);
        EXPECT_TRUE(e.Rs >= c.rsMin && e.Rs <= c.rsMax) << double(e.Rs);
        EXPECT_LE(e.Xs, c.xsMax);
    }
}

TEST(SimulatorRoundTrip, KnownImpedancesWithinOneCount)
{
    constexpr Extended kW = 6.283185307179586477L * 10e6L; // 10 MHz
    // 30 + j40, 100 - j159.2, 12 + j62.8, 50 + j5.
    const struct { Extended r, luH, cpF; } cases[] = {{30, 40 / kW * 1e6L, 0}, {100, 0, 100}, {12, 1, 0}, {50, 5 / kW * 1e6L, 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(double(c.r));
        const SimConfig config{.Load = {LoadKind::SeriesRLC, c.r, c.luH, c.cpF}};
        const SweepRequest request{Word(10), 1, 0};
        const Extended f = SampleFreqHz(config, request, 0), w = 6.283185307179586477L * f;
        const TVNAEntry got = Decode(BuildReply(config, request).data(), f / 1e6L);

        // The load's true values; each count is the true one rounded.
        const Extended x = w * c.luH * 1e-6L - (c.cpF > 0 ? 1 / (w * c.cpF * 1e-12L) : 0);
        const std::complex<Extended> z(c.r, x), gamma = (z - 50.0L) / (z + 50.0L);
        const Extended rho = std::abs(gamma);
        EXPECT_LE(fabsl(got.RawRL - (-20 * log10l(rho) + 20) / 0.05859375L), 0.5L + 1e-9L);
        EXPECT_LE(fabsl(got.RawPhase - fabsl(std::arg(gamma)) * 57.295779513082320877L / 0.17578125L), 0.5L + 1e-9L);

        // The true SWR, Rs and |Xs| lie within what one count either way decodes to.
        const std::pair<Extended TVNAEntry::*, Extended> truths[] = {
            {&TVNAEntry::SWR, (1 + rho) / (1 - rho)}, {&TVNAEntry::Rs, c.r}, {&TVNAEntry::Xs, fabsl(x)}};
        for (const auto& [field, truth] : truths) {
            std::vector<Extended> near;
            for (int p = got.RawPhase - 1; p <= got.RawPhase + 1; ++p) {
                for (int r = got.RawRL - 1; r <= got.RawRL + 1; ++r) {
                    const uint8_t s[4] = {uint8_t(p & 0xFF), uint8_t(p >> 8), uint8_t(r & 0xFF), uint8_t(r >> 8)};
                    near.push_back(Decode(s, f / 1e6L).*field);
                }
            }
            const auto [lo, hi] = std::minmax_element(near.begin(), near.end());
            EXPECT_TRUE(truth >= *lo && truth <= *hi) << double(truth);
        }
    }
}

TEST(SimulatorRoundTrip, AntennaDipsInTheBands)
{
    for (Extended mhz : {3.6L, 7.1L, 14.2L, 28.5L, 1.8L, 5.3L, 10.1L, 21.2L}) {
        const bool band = mhz == 3.6L || mhz == 7.1L || mhz == 14.2L || mhz == 28.5L;
        const Extended swr = Decode(BuildReply({}, SweepRequest{Word(mhz), 1, 0}).data(), mhz).SWR;
        EXPECT_TRUE(band ? swr < 1.5 : swr > 3) << double(mhz) << " MHz: SWR " << double(swr);
    }
}

TEST(SimulatorFaults, EachModeDoesWhatItSays)
{
    const auto clean = BuildReply({}, SweepRequest{1073742, 500, 3863323});
    const struct { Fault mode; int32_t faultBytes; size_t size; bool vanishes; } cases[] = {
        {Fault::Silent, 4, 0, false}, {Fault::Short, 6, 1994, false}, {Fault::Surplus, 6, 2006, false},
        {Fault::HighBytes, 4, 2000, false}, {Fault::Vanish, 1000, 1000, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(int(c.mode));
        Bench b({.Load = {}, .Pace = Pacing::Fast, .Mode = c.mode, .FaultBytes = c.faultBytes});
        ASSERT_TRUE(b.client.Send(kDefaultRequest));
        // A vanishing analyser is read up to its hang-up.
        const std::string got =
            b.client.ReceiveAtLeast(c.vanishes ? std::string::npos : c.size, c.size ? 20000 : 500, 500);
        ASSERT_EQ(got.size(), c.size);
        EXPECT_EQ(b.client.hungUp, c.vanishes);
        for (size_t i = 0; i < std::min(got.size(), clean.size()); ++i) {
            const uint8_t byte = got[i];
            if (c.mode != Fault::HighBytes || i % 2 == 0)
                ASSERT_EQ(byte, clean[i]) << i;
            else // a high byte the decoder ignores: the count is the low byte alone
                ASSERT_TRUE(byte > 3 && DecodeCount(got[i - 1], byte) == clean[i - 1]) << i;
        }
    }
}

TEST(SimulatorPacing, RealPacingTakesTheLineTime)
{
    Bench b(SimConfig{}); // paced at the line rate unless asked otherwise
    const auto begin = std::chrono::steady_clock::now();
    ASSERT_TRUE(b.client.Send(Request(1073742, 288, 3863323))); // 1152 bytes: 100 ms on the line
    EXPECT_EQ(b.client.ReceiveAtLeast(1152, 20000, 0).size(), 1152u);
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - begin).count();
    EXPECT_GE(ms, 90);
    EXPECT_EQ(b.client.Receive(150, 150).size(), 0u) << "no surplus";
}

TEST(SimulatorPort, OpensAnAnalyserAtTheProgramsClock)
{
    kestrin::RegisterSimulatorPort(4711);
    const auto entry = kestrin::FindPort(4711);
    ASSERT_TRUE(entry && entry->openVirtual && entry->path.empty());
    std::string path, other;
    // Below 1: the 400 MHz of the 180 MHz model; then the 500 MHz model's clock.
    const std::shared_ptr<void> keeper = entry->openVirtual({0}, path);
    const std::shared_ptr<void> keeper2 = entry->openVirtual({1250000000}, other);
    ASSERT_TRUE(keeper && keeper2);
    Pty client(path), client2(other);
    const int64_t word = llrintl(14.2e6L * 4294967296.0L / 1.25e9L); // 14.2 MHz at 1.25 GHz
    ASSERT_TRUE(client.Send(Request(Word(14.2L), 1, 0)) && client2.Send(Request(word, 1, 0)));
    const std::string at400 = client.ReceiveAtLeast(4), at1250 = client2.ReceiveAtLeast(4);
    ASSERT_EQ(at400.size(), 4u);
    ASSERT_EQ(at1250.size(), 4u);
    // A simulator at the wrong clock would answer for 4.5 or 44.4 MHz, far from the dip.
    EXPECT_LT(Decode(at400.data(), 14.2L).SWR, 1.5);
    EXPECT_LT(Decode(at1250.data(), 14.2L).SWR, 1.5);
    kestrin::RemovePort(4711);
}
