#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

#include "support/Pty.h"

namespace fs = std::filesystem;

namespace {

// Starts the built tool through the shell (at most 20 s, so a hang fails instead of
// blocking); the first line read is the tool's process id.
FILE* StartTool(const std::string& argsAndRedirections)
{
    return popen(("echo $$; exec timeout -s KILL 20 " KESTRIN_SIM_TOOL " " + argsAndRedirections).c_str(), "r");
}

// Reads the rest of the output into text (if given) and returns the exit status.
int Finish(FILE* f, std::string* text = nullptr)
{
    if (!f)
        return -1;
    char buf[4096];
    for (size_t n; (n = fread(buf, 1, sizeof buf, f)) > 0;)
        if (text)
            text->append(buf, n);
    const int status = pclose(f);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

} // namespace

TEST(SimTool, HelpExplainsTheOptionsAndBadOptionsExitWithStatusTwo)
{
    std::string out;
    EXPECT_EQ(Finish(StartTool("--help"), &out), 0);
    for (const char* word : {"--link", "--load", "--fast", "--fault", "--clock", "vanish", "highbytes", "rlc"})
        EXPECT_NE(out.find(word), std::string::npos) << word;

    for (const char* args : {"--frobnicate", "--load dummy", "--fault sometimes", "--clock 0", "--clock", "--r abc",
                             "--fault-bytes -1", "stray"}) {
        std::string err;
        EXPECT_EQ(Finish(StartTool(std::string(args) + " 2>&1 >/dev/null"), &err), 2) << args; // stderr only
        EXPECT_NE(err.find("kestrin-vna-sim: "), std::string::npos) << args;
        EXPECT_NE(err.find("--help"), std::string::npos) << args;
    }
}

TEST(SimTool, VersionNamesTheToolAndTheRelease)
{
    std::string out;
    EXPECT_EQ(Finish(StartTool("--version"), &out), 0);
    EXPECT_EQ(out.substr(out.find('\n') + 1), "kestrin-vna-sim " KESTRIN_VERSION "\n"); // after the process id
}

TEST(SimTool, LinkServesAndIsRemovedOnInterruptTerminateAndVanish)
{
    const std::string link = ::testing::TempDir() + "kestrin-sim-" + std::to_string(getpid());
    const struct { const char* options; int signal; size_t bytes; } runs[] = {
        {"--load=50", SIGINT, 2000}, {"--load=50", SIGTERM, 2000}, {"--fault vanish --fault-bytes 40", 0, 40},
    };
    for (const auto& run : runs) {
        SCOPED_TRACE(run.options);
        fs::remove(link);
        // A stale link is replaced.
        ASSERT_TRUE(run.signal != SIGTERM || symlink("/dev/pts/does-not-exist", link.c_str()) == 0);
        FILE* tool = StartTool(std::string("--fast ") + run.options + " --link " + link + " 2>/dev/null");
        ASSERT_NE(tool, nullptr);
        char pid[32] = {}, path[256] = {};
        const bool started = fgets(pid, sizeof pid, tool) && fgets(path, sizeof path, tool);
        const pid_t toolPid = started ? std::atoi(pid) : 0;
        EXPECT_GT(toolPid, 1);
        std::error_code error;
        EXPECT_EQ(fs::read_symlink(link, error).string() + "\n", path);
        {
            Pty client(link);
            EXPECT_TRUE(client.Send("0\r1073742\r500\r3863323\r")); // the default sweep
            // A vanishing analyser is read up to its hang-up.
            const std::string reply = client.ReceiveAtLeast(run.signal ? run.bytes : std::string::npos, 20000, 300);
            EXPECT_EQ(reply.size(), run.bytes);
            EXPECT_EQ(client.hungUp, run.signal == 0);
            EXPECT_TRUE(!run.signal || (reply.size() > 3 && reply[3] == 3)) << "50 ohm: return-loss count 1023";
        }
        if (toolPid > 1 && run.signal)
            kill(toolPid, run.signal);
        EXPECT_EQ(Finish(tool), 0);
        EXPECT_FALSE(fs::exists(fs::symlink_status(link))) << "link left behind";
    }

    // A file in the way is never replaced.
    std::ofstream(link).put('x');
    std::string err;
    EXPECT_EQ(Finish(StartTool("--fast --link " + link + " 2>&1 >/dev/null"), &err), 1);
    EXPECT_NE(err.find("in the way"), std::string::npos) << err;
    EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(link)));
    fs::remove(link);
}
