#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/AtomicFile.h"

namespace {

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::set<std::string> Names(const std::string& folder)
{
    std::set<std::string> names;
    if (DIR* d = opendir(folder.c_str())) {
        while (const dirent* e = readdir(d))
            if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0)
                names.insert(e->d_name);
        closedir(d);
    }
    return names;
}

using kestrin::SaveFileAtomically;

TEST(AtomicFileTest, AFileIsReplacedWholeOrLeftAsItWas)
{
    char folderTemplate[] = "/tmp/kestrin-atomic.XXXXXX";
    ASSERT_NE(mkdtemp(folderTemplate), nullptr);
    const std::string folder = folderTemplate;
    const std::string keep = folder + "/keep.csv";
    std::string error;
    ASSERT_TRUE(SaveFileAtomically(keep, "previous", error)) << error;
    ASSERT_EQ(chmod(keep.c_str(), 0640), 0);
    ASSERT_EQ(symlink("keep.csv", (folder + "/link.csv").c_str()), 0);

    // A save that fails half-way (a file size limit, which binds root too) harms nothing
    // and leaves no temporary file.
    rlimit saved{};
    getrlimit(RLIMIT_FSIZE, &saved);
    const rlimit limit{4096, saved.rlim_max};
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    setrlimit(RLIMIT_FSIZE, &limit);
    const bool tooLarge = SaveFileAtomically(keep, std::string(100000, 'x'), error);
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_FALSE(tooLarge);
    EXPECT_EQ(error, "Cannot save " + keep + ": " + std::strerror(EFBIG));
    EXPECT_EQ(ReadFile(keep), "previous");
    EXPECT_EQ(Names(folder), (std::set<std::string>{"keep.csv", "link.csv"}));

    // A good save, through the link, replaces the file it names whole, with its permissions.
    ASSERT_TRUE(SaveFileAtomically(folder + "/link.csv", "MHz,SWR\n1.000,1.50\n", error)) << error;
    EXPECT_EQ(ReadFile(keep), "MHz,SWR\n1.000,1.50\n");
    struct stat link {}, file {};
    ASSERT_EQ(lstat((folder + "/link.csv").c_str(), &link), 0);
    ASSERT_EQ(stat(keep.c_str(), &file), 0);
    EXPECT_TRUE(S_ISLNK(link.st_mode));
    EXPECT_EQ(file.st_mode & 07777, 0640u);

    // Into a folder that is not there: the path and the system's reason.
    EXPECT_FALSE(SaveFileAtomically(folder + "/none/sweep.csv", "x", error));
    EXPECT_EQ(error, "Cannot save " + folder + "/none/sweep.csv: " + std::strerror(ENOENT));
    EXPECT_EQ(Names(folder), (std::set<std::string>{"keep.csv", "link.csv"}));

    for (const std::string& name : Names(folder))
        unlink((folder + "/" + name).c_str());
    rmdir(folder.c_str());
}

} // namespace
