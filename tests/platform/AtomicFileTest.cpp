#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <random>
#include <set>
#include <string>
#ifndef _WIN32
#include <csignal>
#include <cstdlib>
#include <dirent.h>
#include <fstream>
#include <sstream>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "platform/AtomicFile.h"

namespace {

namespace fs = std::filesystem;

fs::path FromUtf8(const std::string& utf8)
{
    return fs::path(std::u8string(reinterpret_cast<const char8_t*>(utf8.data()), utf8.size()));
}

std::string Utf8(const fs::path& path)
{
    const std::u8string text = path.u8string();
    return std::string(reinterpret_cast<const char*>(text.data()), text.size());
}

// The whole file through the UTF-8 name.
std::string ReadAll(const std::string& path)
{
    std::string text;
    if (std::FILE* f = kestrin::OpenFile(path, "rb")) {
        char chunk[4096];
        for (size_t n; (n = std::fread(chunk, 1, sizeof chunk, f)) > 0;)
            text.append(chunk, n);
        std::fclose(f);
    }
    return text;
}

std::set<std::string> NamesIn(const fs::path& folder)
{
    std::set<std::string> names;
    for (const fs::directory_entry& e : fs::directory_iterator(folder))
        names.insert(Utf8(e.path().filename()));
    return names;
}

// In a folder named as people name theirs, in German and in Cyrillic letters (which no
// single ANSI code page holds): a file saved, read back, saved over, and nothing else left.
TEST(AtomicFileTest, AFileOfAnyNameIsSavedAndSavedOverWhole)
{
    const fs::path folder = fs::temp_directory_path() /
                            FromUtf8("kestrin J\u00fcrgen \u0410\u043d\u0442\u0435\u043d\u043d\u0430 " +
                                     std::to_string(std::random_device()() % 1000000u));
    ASSERT_TRUE(fs::create_directories(folder));
    const std::string file = Utf8(folder / FromUtf8("Gr\u00fc\u00dfe \u0434\u0438\u043f\u043e\u043b\u044c.csv"));
    std::string error;
    ASSERT_TRUE(kestrin::SaveFileAtomically(file, "previous", error)) << error;
    EXPECT_EQ(ReadAll(file), "previous");
    const std::string sweep = "MHz,SWR\n1.000,1.50\n" + std::string(100000, 'x');
    ASSERT_TRUE(kestrin::SaveFileAtomically(file, sweep, error)) << error;
    EXPECT_EQ(ReadAll(file), sweep);
    EXPECT_EQ(NamesIn(folder), std::set<std::string>{Utf8(FromUtf8(file).filename())});

    // Into a folder that is not there: the absolute path, whole, and the system's reason.
    const std::string missing = Utf8(folder / FromUtf8("\u00e4\u00f6\u00fc") / "sweep.csv");
    EXPECT_FALSE(kestrin::SaveFileAtomically(missing, "x", error));
    EXPECT_EQ(error.rfind("Cannot save " + Utf8(FromUtf8(missing).make_preferred()) + ": ", 0), 0u) << error;
    EXPECT_GT(error.size(), ("Cannot save " + missing + ": ").size());
    // A name that is not UTF-8 is refused rather than guessed at (Linux takes any bytes).
#ifdef _WIN32
    EXPECT_FALSE(kestrin::SaveFileAtomically(Utf8(folder) + "\\bad \xfc.csv", "x", error));
    EXPECT_NE(error.find("not valid Unicode"), std::string::npos) << error;
    EXPECT_EQ(kestrin::OpenFile(Utf8(folder) + "\\bad \xfc.csv", "wb"), nullptr);
#endif
    EXPECT_EQ(NamesIn(folder).size(), 1u);

    // A file the system will not let go of (read-only on Windows): saved over whole, or left
    // as it was with a message that says so, never lost, and nothing left beside it.
    fs::permissions(FromUtf8(file), fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                    fs::perm_options::remove);
    if (kestrin::SaveFileAtomically(file, "replaced", error)) {
        EXPECT_EQ(ReadAll(file), "replaced");
    } else {
        EXPECT_EQ(ReadAll(file), sweep);
        EXPECT_NE(error.find("The file is as it was"), std::string::npos) << error;
    }
    EXPECT_EQ(NamesIn(folder).size(), 1u);
    fs::permissions(FromUtf8(file), fs::perms::owner_write, fs::perm_options::add);
    fs::remove_all(folder);
}

#ifndef _WIN32 // a file size limit, permissions and symbolic links as Linux has them

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
#endif

} // namespace
