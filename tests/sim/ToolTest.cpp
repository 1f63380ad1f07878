#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "PtyClient.h"

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
    FILE* help = StartTool("--help");
    ASSERT_NE(help, nullptr);
    std::string out;
    EXPECT_EQ(Finish(help, &out), 0);
    for (const char* word : {"--link", "--load", "--fast", "--fault", "--clock", "vanish", "highbytes", "rlc"})
        EXPECT_NE(out.find(word), std::string::npos) << word;

    for (const char* args : {"--frobnicate", "--load dummy", "--fault sometimes", "--clock 0", "--clock", "--r abc",
                             "--fault-bytes -1", "stray"}) {
        FILE* bad = StartTool(std::string(args) + " 2>&1 >/dev/null"); // stderr only
        ASSERT_NE(bad, nullptr);
        std::string err;
        EXPECT_EQ(Finish(bad, &err), 2) << args;
        EXPECT_NE(err.find("kestrin-vna-sim: "), std::string::npos) << args;
        EXPECT_NE(err.find("--help"), std::string::npos) << args;
    }
}

TEST(SimTool, LinkServesAndIsRemovedOnInterruptTerminateAndVanish)
{
    const std::string link = ::testing::TempDir() + "kestrin-sim-" + std::to_string(getpid());
    const struct { const char* options; int signal; size_t bytes; } runs[] = {
        {"--load=50", SIGINT, 2000}, {"--load=50", SIGTERM, 2000}, {"--fault vanish --fault-bytes 40", 0, 40},
    };
    for (const auto& run : runs) {
        SCOPED_TRACE(run.options);
        unlink(link.c_str());
        // A stale link is replaced.
        ASSERT_TRUE(run.signal != SIGTERM || symlink("/dev/pts/does-not-exist", link.c_str()) == 0);
        FILE* tool = StartTool(std::string("--fast ") + run.options + " --link " + link + " 2>/dev/null");
        ASSERT_NE(tool, nullptr);
        char pid[32] = {}, path[256] = {}, target[256] = {};
        const bool started = fgets(pid, sizeof pid, tool) && fgets(path, sizeof path, tool);
        const pid_t toolPid = started ? std::atoi(pid) : 0;
        EXPECT_GT(toolPid, 1);
        path[std::strcspn(path, "\n")] = '\0';
        EXPECT_GT(readlink(link.c_str(), target, sizeof target - 1), 0);
        EXPECT_STREQ(target, path);
        {
            PtyClient client(link);
            EXPECT_TRUE(client.Send(kDefaultRequest));
            const auto reply = client.Collect(run.signal ? 300 : 1000);
            EXPECT_EQ(reply.size(), run.bytes);
            EXPECT_EQ(client.HungUp(), run.signal == 0);
            EXPECT_TRUE(!run.signal || (reply.size() > 3 && reply[3] == 3)) << "50 ohm: return-loss count 1023";
        }
        if (toolPid > 1 && run.signal)
            kill(toolPid, run.signal);
        EXPECT_EQ(Finish(tool), 0);
        struct stat st{};
        EXPECT_NE(lstat(link.c_str(), &st), 0) << "link left behind";
    }

    // A file in the way is never replaced.
    FILE* f = std::fopen(link.c_str(), "w");
    ASSERT_NE(f, nullptr);
    std::fclose(f);
    FILE* tool = StartTool("--fast --link " + link + " 2>&1 >/dev/null");
    ASSERT_NE(tool, nullptr);
    std::string err;
    EXPECT_EQ(Finish(tool, &err), 1);
    EXPECT_NE(err.find("in the way"), std::string::npos) << err;
    struct stat st{};
    EXPECT_TRUE(lstat(link.c_str(), &st) == 0 && S_ISREG(st.st_mode));
    unlink(link.c_str());
}
