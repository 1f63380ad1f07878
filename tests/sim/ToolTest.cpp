#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "PtyClient.h"

extern char** environ;

namespace {

// The built tool, run with arguments; its stdout and stderr go to pipes.
class ToolRun {
public:
    explicit ToolRun(const std::vector<std::string>& args)
    {
        int out[2], err[2];
        if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0)
            return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        posix_spawn_file_actions_adddup2(&actions, err[1], 2);
        std::vector<std::string> all = {KESTRIN_SIM_TOOL};
        all.insert(all.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (auto& a : all)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        if (posix_spawn(&pid_, KESTRIN_SIM_TOOL, &actions, nullptr, argv.data(), environ) != 0)
            pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        close(out[1]);
        close(err[1]);
        out_ = out[0];
        err_ = err[0];
    }
    ~ToolRun()
    {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        if (out_ >= 0)
            close(out_);
        if (err_ >= 0)
            close(err_);
    }

    bool Started() const { return pid_ > 0; }

    // One line of stdout, waiting at most timeoutMs.
    std::string ReadLine(int timeoutMs = 3000)
    {
        std::string line;
        char c;
        for (;;) {
            pollfd p{out_, POLLIN, 0};
            if (poll(&p, 1, timeoutMs) <= 0 || read(out_, &c, 1) != 1 || c == '\n')
                return line;
            line += c;
        }
    }

    // Waits for the exit; returns the exit status, or -1 when it did not end normally in time.
    int Wait(std::string* out = nullptr, std::string* err = nullptr, int timeoutMs = 5000)
    {
        for (int waited = 0; waited < timeoutMs; waited += 10) {
            int status = 0;
            if (waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;
                if (out)
                    *out += Drain(out_);
                if (err)
                    *err += Drain(err_);
                return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            }
            usleep(10000);
        }
        return -1;
    }

    void Signal(int sig) { kill(pid_, sig); }

private:
    static std::string Drain(int fd)
    {
        std::string text;
        char buf[4096];
        ssize_t n;
        while ((n = read(fd, buf, sizeof buf)) > 0)
            text.append(buf, static_cast<size_t>(n));
        return text;
    }

    pid_t pid_ = -1;
    int out_ = -1;
    int err_ = -1;
};

std::string TempLinkPath(const char* tag)
{
    return std::string(::testing::TempDir()) + "kestrin-sim-" + tag + "-" + std::to_string(getpid());
}

} // namespace

TEST(SimTool, HelpExplainsTheOptions)
{
    ToolRun run({"--help"});
    ASSERT_TRUE(run.Started());
    std::string out, err;
    EXPECT_EQ(run.Wait(&out, &err), 0);
    for (const char* word : {"--link", "--load", "--fast", "--fault", "--clock", "vanish", "highbytes", "rlc"})
        EXPECT_NE(out.find(word), std::string::npos) << word;
}

TEST(SimTool, BadOptionsExitWithStatusTwo)
{
    const std::vector<std::vector<std::string>> bad = {
        {"--frobnicate"}, {"--load", "dummy"}, {"--fault", "sometimes"}, {"--clock", "0"}, {"--clock"},
        {"--r", "abc"}, {"--fault-bytes", "-1"}, {"stray"},
    };
    for (const auto& args : bad) {
        ToolRun run(args);
        ASSERT_TRUE(run.Started());
        std::string out, err;
        EXPECT_EQ(run.Wait(&out, &err), 2) << args[0];
        EXPECT_NE(err.find("kestrin-vna-sim: "), std::string::npos) << args[0];
        EXPECT_NE(err.find("--help"), std::string::npos) << args[0];
        EXPECT_TRUE(out.empty()) << args[0];
    }
}

TEST(SimTool, LinkServesAndIsRemovedOnInterruptAndTerminate)
{
    for (int sig : {SIGINT, SIGTERM}) {
        const std::string link = TempLinkPath(sig == SIGINT ? "int" : "term");
        unlink(link.c_str());
        ToolRun run({"--fast", "--load=50", "--link", link});
        ASSERT_TRUE(run.Started());
        const std::string path = run.ReadLine();
        ASSERT_FALSE(path.empty());

        char target[256] = {};
        ASSERT_GT(readlink(link.c_str(), target, sizeof target - 1), 0);
        EXPECT_EQ(std::string(target), path);
        {
            PtyClient client(link);
            ASSERT_TRUE(client.IsOpen());
            ASSERT_TRUE(client.Send(kDefaultRequest));
            const auto reply = client.Collect();
            ASSERT_EQ(reply.size(), 2000u);
            EXPECT_EQ(reply[3], 3); // 50 ohm: return-loss count 1023
        }
        run.Signal(sig);
        EXPECT_EQ(run.Wait(), 0);
        struct stat st{};
        EXPECT_NE(lstat(link.c_str(), &st), 0) << "link left behind after signal " << sig;
    }
}

TEST(SimTool, ReplacesAStaleLinkButNeverAFile)
{
    const std::string link = TempLinkPath("stale");
    unlink(link.c_str());
    ASSERT_EQ(symlink("/dev/pts/does-not-exist", link.c_str()), 0);
    {
        ToolRun run({"--fast", "--link", link});
        ASSERT_TRUE(run.Started());
        const std::string path = run.ReadLine();
        char target[256] = {};
        ASSERT_GT(readlink(link.c_str(), target, sizeof target - 1), 0);
        EXPECT_EQ(std::string(target), path);
        run.Signal(SIGTERM);
        EXPECT_EQ(run.Wait(), 0);
    }

    const std::string file = TempLinkPath("file");
    FILE* f = std::fopen(file.c_str(), "w");
    ASSERT_NE(f, nullptr);
    std::fclose(f);
    ToolRun run({"--fast", "--link", file});
    ASSERT_TRUE(run.Started());
    std::string err;
    EXPECT_EQ(run.Wait(nullptr, &err), 1);
    EXPECT_NE(err.find("in the way"), std::string::npos);
    struct stat st{};
    ASSERT_EQ(lstat(file.c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));
    unlink(file.c_str());
}

TEST(SimTool, VanishEndsTheToolAndRemovesTheLink)
{
    const std::string link = TempLinkPath("vanish");
    unlink(link.c_str());
    ToolRun run({"--fast", "--fault", "vanish", "--fault-bytes", "40", "--link", link});
    ASSERT_TRUE(run.Started());
    ASSERT_FALSE(run.ReadLine().empty());
    PtyClient client(link);
    ASSERT_TRUE(client.IsOpen());
    ASSERT_TRUE(client.Send(kDefaultRequest));
    EXPECT_EQ(client.Collect(1000).size(), 40u);
    EXPECT_TRUE(client.HungUp());
    std::string err;
    EXPECT_EQ(run.Wait(nullptr, &err), 0);
    EXPECT_NE(err.find("gone"), std::string::npos);
    struct stat st{};
    EXPECT_NE(lstat(link.c_str(), &st), 0);
}
