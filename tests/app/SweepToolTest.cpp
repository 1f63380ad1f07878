// kestrin-vna-sweep run as a person's script runs it, against the simulated analyser on a
// pseudo-terminal, against an analyser the test plays on one, and against "simulator":
// every format, the window's CSV to the byte, interrupts, and every way it can fail.
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QTemporaryDir>

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <regex>
#include <spawn.h>
#include <sstream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "acquisition/SweepRequest.h"
#include "acquisition/TComThread.h"
#include "frmmain/FormFixture.h"
#include "measure/Bandwidth.h"
#include "measure/Readouts.h"
#include "measure/Sweep.h"
#include "sim/Simulator.h"
#include "support/Pty.h"
#include "support/ScikitRf.h"

extern char** environ;

using namespace kestrin::sim;
using Bytes = std::vector<uint8_t>;

namespace {

// The sweep every run here asks for: the 20 m band in 40 steps.
constexpr int StartKHz = 14000, EndKHz = 14350, Steps = 40;
const std::vector<std::string> Band = {"--start", "14", "--end", "14.35", "--steps", "40"};

// The simulated antenna's reply to that sweep.
Bytes AntennaReply()
{
    const SweepWords w = EncodeSweep(StartKHz, EndKHz, Steps, TuningFactorForClock(400000000));
    return BuildReply(SimConfig{}, SweepRequest{w.Start, Steps, w.Step});
}

std::string ReadFile(const std::string& path)
{
    QFile f(QString::fromStdString(path));
    return f.open(QIODevice::ReadOnly) ? f.readAll().toStdString() : std::string();
}

std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

std::vector<std::string> Split(const std::string& line, char separator)
{
    std::vector<std::string> fields;
    std::istringstream in(line);
    for (std::string field; std::getline(in, field, separator);)
        fields.push_back(field);
    return fields;
}

bool IsUtcTime(const std::string& text)
{
    static const std::regex iso(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z)");
    return std::regex_match(text, iso);
}

// The tool as a child process: standard input from /dev/null, its outputs into files (or
// stderr into errPath, which may be a terminal).
struct Tool {
    pid_t pid = -1;
    std::string outPath, errPath;

    Tool(const std::vector<std::string>& arguments, std::string out, std::string err)
        : outPath(std::move(out)), errPath(std::move(err))
    {
        std::vector<std::string> all = {KESTRIN_SWEEP_TOOL};
        all.insert(all.end(), arguments.begin(), arguments.end());
        std::vector<char*> argv;
        for (std::string& a : all)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t files;
        posix_spawn_file_actions_init(&files);
        posix_spawn_file_actions_addopen(&files, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&files, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_addopen(&files, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOCTTY, 0644);
        if (posix_spawn(&pid, all[0].c_str(), &files, nullptr, argv.data(), environ) != 0)
            pid = -1;
        posix_spawn_file_actions_destroy(&files);
    }
    ~Tool()
    {
        if (pid > 0) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
    }
    // The exit status; -1 when it was killed after timeoutMs or ended by a signal.
    int Wait(int timeoutMs = 30000)
    {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        int status = 0;
        while (pid > 0 && waitpid(pid, &status, WNOHANG) == 0) {
            if (std::chrono::steady_clock::now() > deadline)
                kill(pid, SIGKILL);
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        pid = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    void Signal(int signal) const { kill(pid, signal); }
};

class SweepToolTest : public FormTest {
protected:
    void SetUp() override
    {
        FormTest::SetUp();
        form->SaveDialogRun = [this](QFileDialog&) { return QString::fromStdString(answer); };
    }
    std::string Path(const std::string& name) const { return dir.filePath(QString::fromStdString(name)).toStdString(); }

    struct Result {
        int Status = -1;
        std::string Out, Err;
    };
    Result Run(const std::vector<std::string>& arguments)
    {
        Tool tool(arguments, Path("stdout"), Path("stderr"));
        Result r;
        r.Status = tool.Wait();
        r.Out = ReadFile(Path("stdout"));
        r.Err = ReadFile(Path("stderr"));
        return r;
    }
    static std::vector<std::string> With(std::vector<std::string> a, const std::vector<std::string>& b)
    {
        a.insert(a.end(), b.begin(), b.end());
        return a;
    }

    // The samples of the antenna's reply, as the window computes them, and the window's
    // CSV Save of that sweep.
    void ExpectedSweep()
    {
        const Bytes reply = AntennaReply();
        DeliverSweep(StartKHz, EndKHz, Steps, [&](int i) {
            return Sample{reply[4 * size_t(i)], reply[4 * size_t(i) + 1], reply[4 * size_t(i) + 2],
                          reply[4 * size_t(i) + 3]};
        });
        answer = Path("window.csv");
        form->Button1Click();
        windowCsv = ReadFile(answer);
    }

    // A test-played analyser answers the next request with reply (or its first bytes).
    static void Answer(Pty& analyser, const Bytes& reply, size_t bytes = 0)
    {
        std::string request;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (std::count(request.begin(), request.end(), '\r') < 4 && !analyser.hungUp
               && std::chrono::steady_clock::now() < deadline)
            request += analyser.Receive(100, 20);
        ASSERT_EQ(std::count(request.begin(), request.end(), '\r'), 4) << request;
        ASSERT_TRUE(analyser.Send(std::string(reply.begin(), reply.begin() + long(bytes ? bytes : reply.size()))));
    }
    static bool Until(const std::function<bool()>& pred, int timeoutMs = 20000)
    {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        for (; !pred(); std::this_thread::sleep_for(std::chrono::milliseconds(10)))
            if (std::chrono::steady_clock::now() > deadline)
                return false;
        return true;
    }

    QTemporaryDir qdir;
    QDir dir{qdir.path()};
    std::string answer;
    std::string windowCsv;
};

} // namespace

TEST_F(SweepToolTest, EveryFormatFromTheSimulatedAnalyserOnATerminalAndFromSimulator)
{
    ExpectedSweep();
    ASSERT_EQ(Lines(windowCsv).size(), size_t(1 + Steps));
    const std::vector<std::string> windowLines = Lines(windowCsv);

    Simulator onTerminal(SimConfig{.Load = {}, .ClockHz = 400000000, .Pace = Pacing::Fast, .Mode = Fault::None,
                                   .FaultBytes = 4});
    std::string error;
    ASSERT_TRUE(onTerminal.Start(error)) << error;
    for (const std::string& port : {onTerminal.SlavePath(), std::string("simulator")}) {
        SCOPED_TRACE(port);
        const std::vector<std::string> base = With({"--port", port}, Band);

        // One sweep as CSV is the window's CSV Save of the same sweep, to the byte.
        Result csv = Run(base);
        ASSERT_EQ(csv.Status, 0) << csv.Err;
        EXPECT_EQ(csv.Out, windowCsv);
        EXPECT_EQ(csv.Err, "");

        // Two sweeps: the sweep's number and time before each of the window's rows.
        const std::string csvFile = Path("two.csv");
        Result two = Run(With(base, {"--count", "2", "--output", csvFile}));
        ASSERT_EQ(two.Status, 0) << two.Err;
        EXPECT_EQ(two.Out + two.Err, "");
        const std::vector<std::string> lines = Lines(ReadFile(csvFile));
        ASSERT_EQ(lines.size(), size_t(1 + 2 * Steps));
        EXPECT_EQ(lines[0], "Sweep,Time (UTC)," + windowLines[0]);
        std::string previousTime;
        for (int k = 0; k < 2 * Steps; ++k) {
            const std::string& line = lines[size_t(1 + k)];
            const size_t first = line.find(','), second = line.find(',', first + 1);
            ASSERT_NE(second, std::string::npos) << line;
            EXPECT_EQ(line.substr(0, first), std::to_string(1 + k / Steps)) << line;
            const std::string time = line.substr(first + 1, second - first - 1);
            EXPECT_TRUE(IsUtcTime(time) && time >= previousTime) << line;
            if (k % Steps != 0) {
                EXPECT_EQ(time, previousTime) << "one time per sweep";
            }
            previousTime = time;
            EXPECT_EQ(line.substr(second + 1), windowLines[size_t(1 + k % Steps)]);
        }

        // Touchstone, read back by scikit-rf point by point.
        const std::string s1p = Path("band.s1p");
        Result touchstone = Run(With(base, {"--output", s1p}));
        ASSERT_EQ(touchstone.Status, 0) << touchstone.Err;
        const std::vector<std::string> head = Lines(ReadFile(s1p));
        ASSERT_GT(head.size(), 6u);
        EXPECT_EQ(head[2], "! Port " + (port == "simulator" ? std::string("Simulator") : port));
        EXPECT_EQ(head[3], "! Sweep: start 14 MHz, end 14.35 MHz, 40 steps, DDS clock 400000000 Hz, "
                           "R.L. calibration 0 dB");
        EXPECT_EQ(head[5], "# MHz S MA R 50");
        bool ok = false;
        const std::vector<TouchstonePoint> points = ReadWithScikitRf(s1p, ok);
        ASSERT_TRUE(ok);
        ASSERT_EQ(points.size(), size_t(Steps));
        for (int i = 0; i < Steps; ++i) {
            const TVNAEntry& e = *form->VNAList->GetEntry(i);
            EXPECT_NEAR(points[size_t(i)].Hz, double(e.FreqMHz) * 1e6, 1e-12 * points[size_t(i)].Hz) << i;
            EXPECT_NEAR(points[size_t(i)].Mag, double(e.Rho), 1e-12 * double(e.Rho)) << i;
            EXPECT_NEAR(points[size_t(i)].Deg, double(e.PhaseDeg), 1e-9) << i;
        }

        // Summary: the time and the window's lowest-SWR row, tab-separated.
        Result summary = Run(With(base, {"--count", "2", "--format", "summary"}));
        ASSERT_EQ(summary.Status, 0) << summary.Err;
        const std::vector<std::string> rows = Lines(summary.Out);
        ASSERT_EQ(rows.size(), 2u) << summary.Out;
        QStringList expected = Row("lowswr_");
        // Then the edges of the SWR bandwidth (limit 2) as the window finds them.
        const SwrBandwidth bw = FindSwrBandwidth(*form->VNAList, form->MinSwrIndex, 2);
        ASSERT_TRUE(bw.Found);
        for (const std::string& row : rows) {
            const std::vector<std::string> fields = Split(row, '\t');
            ASSERT_EQ(fields.size(), 13u) << row;
            EXPECT_TRUE(IsUtcTime(fields[0])) << row;
            for (int c = 0; c < 10; ++c)
                EXPECT_EQ(fields[size_t(1 + c)], expected[c].toStdString()) << row;
            EXPECT_EQ(fields[11], EdgeText(bw.Low, true)) << row;
            EXPECT_EQ(fields[12], EdgeText(bw.High, false)) << row;
        }
    }
}

TEST_F(SweepToolTest, AnInterruptKeepsOnlyWholeSweepsAndEndsWithStatusZero)
{
    const Bytes reply = AntennaReply();
    // --count 0: the file grows by whole sweeps; the interrupt drops the one under way.
    {
        Pty analyser;
        const std::string log = Path("storm.csv");
        Tool tool(With({"--port", analyser.slavePath, "--count", "0", "--output", log}, Band), Path("out"), Path("err"));
        Answer(analyser, reply);
        Answer(analyser, reply);
        Answer(analyser, reply, reply.size() / 2);
        ASSERT_TRUE(Until([&] { return Lines(ReadFile(log)).size() == size_t(1 + 2 * Steps); }));
        tool.Signal(SIGINT);
        EXPECT_EQ(tool.Wait(), 0);
        const std::string text = ReadFile(log);
        ASSERT_EQ(text.back(), '\n');
        const std::vector<std::string> lines = Lines(text);
        ASSERT_EQ(lines.size(), size_t(1 + 2 * Steps));
        for (size_t k = 1; k < lines.size(); ++k)
            EXPECT_EQ(Split(lines[k], ',').size(), 12u) << lines[k];
        EXPECT_EQ(Split(lines.back(), ',')[0], "2");
        EXPECT_EQ(ReadFile(Path("out")) + ReadFile(Path("err")), "");
    }
    // A count not yet reached: SIGTERM writes the sweeps complete so far, the file whole.
    {
        Pty analyser;
        const std::string file = Path("five.csv");
        Tool tool(With({"--port", analyser.slavePath, "--count", "5", "--output", file}, Band), Path("out"), Path("err"));
        Answer(analyser, reply);
        Answer(analyser, reply);
        Answer(analyser, reply, 8);
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        EXPECT_FALSE(QFile::exists(QString::fromStdString(file))) << "written only at the end";
        tool.Signal(SIGTERM);
        EXPECT_EQ(tool.Wait(), 0);
        const std::vector<std::string> lines = Lines(ReadFile(file));
        ASSERT_EQ(lines.size(), size_t(1 + 2 * Steps));
        EXPECT_EQ(Split(lines.back(), ',')[0], "2");
    }
}

TEST_F(SweepToolTest, EveryFailureTellsWhyWithItsExitStatus)
{
    // A bad option, value or setup file (every message is shown with the options): the
    // message and a hint on stderr, status 2, nothing else.
    const std::string badSetup = Path("bad.kvsetup");
    {
        QFile file(QString::fromStdString(badSetup));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("Kestrin VNA setup 1\nstart_mhz = 7\nsteps = 4001\n");
    }
    for (const auto& [arguments, message] : std::vector<std::pair<std::vector<std::string>, std::string>>{
             {{"--port", "simulator", "--steps", "9"}, "Steps must be between 10 and 4000."},
             {{"--port", "simulator", "--setup", badSetup, "--steps", "100"},
              "Cannot open " + badSetup + ": Line 3: Steps must be between 10 and 4000."},
             {{"--port", "simulator", "--format", "s1p", "--count", "2"},
              "A Touchstone file holds one sweep: the s1p format needs --count 1."}}) {
        const Result r = Run(arguments);
        EXPECT_EQ(r.Status, 2) << message;
        EXPECT_EQ(r.Err, "kestrin-vna-sweep: " + message + "\nTry 'kestrin-vna-sweep --help' for the options.\n");
        EXPECT_EQ(r.Out, "");
    }
    const Result help = Run({"--help"});
    EXPECT_EQ(help.Status, 0);
    for (const char* word : {"--port", "--count", "--format", "--output", "summary", "SIGINT"})
        EXPECT_NE(help.Out.find(word), std::string::npos) << word;
    EXPECT_EQ(Run({"--version"}).Out, "kestrin-vna-sweep " KESTRIN_VERSION "\n");

    // A port that does not open: the window's text, status 1, no output.
    const Result missing = Run({"--port", "/dev/ttyKestrinNoSuchPort", "--output", Path("never.csv")});
    EXPECT_EQ(missing.Status, 1);
    EXPECT_EQ(missing.Err.rfind("kestrin-vna-sweep: " + OpenFailureText("Cannot open port '/dev/ttyKestrinNoSuchPort'", ENOENT), 0), 0u) << missing.Err;
    EXPECT_FALSE(QFile::exists(QString::fromStdString(Path("never.csv"))));

    const Bytes reply = AntennaReply();
    // Unplugged after one sweep, with --count 0: the sweep written stays; status 1.
    {
        Pty analyser;
        const std::string log = Path("log.csv");
        Tool tool(With({"--port", analyser.slavePath, "--count", "0", "--output", log}, Band), Path("out"), Path("err"));
        Answer(analyser, reply);
        Answer(analyser, reply, 60);
        ASSERT_TRUE(Until([&] { return Lines(ReadFile(log)).size() == size_t(1 + Steps); }));
        analyser.Close();
        EXPECT_EQ(tool.Wait(), 1);
        EXPECT_EQ(ReadFile(Path("err")), "kestrin-vna-sweep: " + PortLostText(analyser.slavePath, TryAgain::RunSweepTool) + "\n");
        EXPECT_EQ(Lines(ReadFile(log)).size(), size_t(1 + Steps));
    }
    // Unplugged before a count is reached: a file that was there stays as it was.
    {
        Pty analyser;
        const std::string file = Path("kept.csv");
        QFile old(QString::fromStdString(file));
        ASSERT_TRUE(old.open(QIODevice::WriteOnly) && old.write("earlier sweep\n") == 14);
        old.close();
        Tool tool(With({"--port", analyser.slavePath, "--count", "3", "--output", file}, Band), Path("out"), Path("err"));
        Answer(analyser, reply);
        Answer(analyser, reply, 60);
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        analyser.Close();
        EXPECT_EQ(tool.Wait(), 1);
        EXPECT_EQ(ReadFile(file), "earlier sweep\n");
        EXPECT_NE(ReadFile(Path("err")).find(PortLostText(analyser.slavePath, TryAgain::RunSweepTool)), std::string::npos);
    }
    // An analyser that never answers: three replies abandoned after 2 s of silence each.
    {
        Simulator silent(SimConfig{.Load = {}, .ClockHz = 400000000, .Pace = Pacing::Fast, .Mode = Fault::Silent,
                                   .FaultBytes = 4});
        std::string error;
        ASSERT_TRUE(silent.Start(error)) << error;
        const Result r = Run(With({"--port", silent.SlavePath(), "--count", "0"}, Band));
        EXPECT_EQ(r.Status, 1);
        EXPECT_EQ(r.Err, "kestrin-vna-sweep: " + NoAnswerText(silent.SlavePath(), TryAgain::RunSweepTool) + "\n");
        EXPECT_EQ(r.Out, "");
    }
    // An output that cannot be written: the path and the reason, status 1.
    for (const char* count : {"1", "0"}) {
        const std::string nowhere = Path("no-such-folder/sweep.csv");
        const Result r = Run(With({"--port", "simulator", "--count", count, "--output", nowhere}, Band));
        EXPECT_EQ(r.Status, 1) << count;
        EXPECT_NE(r.Err.find("Cannot save "), std::string::npos) << r.Err;
        EXPECT_NE(r.Err.find("sweep.csv"), std::string::npos) << r.Err;
        EXPECT_NE(r.Err.find("No such file or directory"), std::string::npos) << r.Err;
    }
}

TEST_F(SweepToolTest, ProgressOnATerminalOnly)
{
    Pty terminal; // stderr goes to its slave side, as to a person's terminal
    Tool tool({"--port", "simulator", "--steps", "400", "--output", Path("p.csv")}, Path("out"), terminal.slavePath);
    // All it shows, up to the hang-up when the tool ends and closes the terminal.
    const std::string shown = terminal.ReceiveAtLeast(std::string::npos, 60000, 0);
    EXPECT_EQ(tool.Wait(), 0);
    EXPECT_NE(shown.find("\r\033[KSweep 1: "), std::string::npos) << shown;
    EXPECT_NE(shown.find(" of 1600 bytes"), std::string::npos) << shown;
    EXPECT_EQ(shown.substr(shown.size() - 4), "\r\033[K") << "the line is cleared at the end";
    // Not a terminal: not a word on stderr (every other run here shows it too).
    EXPECT_EQ(Run({"--port", "simulator", "--steps", "400", "--output", Path("q.csv")}).Err, "");
}

int main(int argc, char** argv) { return RunWindowTests(argc, argv); }
