#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <csignal>
#include <cstring>
#include <sys/resource.h>
#include <unistd.h>

#include "PlotTestUtil.h"

namespace {

uint32_t U32(const QByteArray& b, int at)
{
    uint32_t v;
    std::memcpy(&v, b.constData() + at, 4);
    return v;
}
uint16_t U16(const QByteArray& b, int at)
{
    uint16_t v;
    std::memcpy(&v, b.constData() + at, 2);
    return v;
}

QByteArray ReadAll(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return f.readAll();
}

bool WriteAll(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

// A place where no file can be created, and the reason the system gives for it.
// Root ignores directory permissions, so it gets a path below a regular file.
struct Unwritable {
    QString path;
    QString reason;
};

Unwritable UnwritablePath(const QTemporaryDir& dir)
{
    if (geteuid() == 0) {
        WriteAll(dir.filePath("plain"), "x");
        return {dir.filePath("plain/plot.bmp"), QStringLiteral("Not a directory")};
    }
    QDir(dir.path()).mkdir("locked");
    QFile::setPermissions(dir.filePath("locked"), QFileDevice::ReadOwner | QFileDevice::ExeOwner);
    return {dir.filePath("locked/plot.bmp"), QStringLiteral("Permission denied")};
}

// Limits the size of files this process may write, so that a save fails half-way
// (root is bound by this limit too); the limit is lifted again on destruction.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        getrlimit(RLIMIT_FSIZE, &saved_);
        oldHandler_ = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit = saved_;
        limit.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit()
    {
        setrlimit(RLIMIT_FSIZE, &saved_);
        std::signal(SIGXFSZ, oldHandler_);
    }

private:
    rlimit saved_{};
    void (*oldHandler_)(int) = nullptr;
};

class FilesTest : public ::testing::Test {
protected:
    QTemporaryDir dir;
    PlotGeometry g = Geometry();
    QImage picture = AxesPicture(g);

    void TearDown() override
    {
        // Let the temporary directory remove whatever a test locked.
        QFile::setPermissions(dir.filePath("locked"), QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                          QFileDevice::ExeOwner);
    }
};

TEST_F(FilesTest, BmpIsUncompressedTwentyFourBitOfThePictureSize)
{
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath("plot.bmp");
    QString error;
    ASSERT_TRUE(SaveBmpFile(picture, path, error)) << error.toStdString();

    const QByteArray b = ReadAll(path);
    ASSERT_GE(b.size(), 54);
    EXPECT_EQ(b.left(2), QByteArray("BM"));
    const uint32_t rowBytes = (1168 * 3 + 3) & ~3u;
    const uint32_t offset = U32(b, 10);
    EXPECT_EQ(U32(b, 2), static_cast<uint32_t>(b.size()));
    EXPECT_EQ(U32(b, 14), 40u);               // BITMAPINFOHEADER
    EXPECT_EQ(static_cast<int32_t>(U32(b, 18)), 1168);
    EXPECT_EQ(static_cast<int32_t>(U32(b, 22)), 550);  // positive: bottom-up rows
    EXPECT_EQ(U16(b, 26), 1);
    EXPECT_EQ(U16(b, 28), 24);
    EXPECT_EQ(U32(b, 30), 0u);                // BI_RGB
    EXPECT_EQ(static_cast<uint32_t>(b.size()), offset + rowBytes * 550);

    // The frame pixel (90, 510) in blue, green, red order, rows counted from the bottom.
    const int at = static_cast<int>(offset + rowBytes * (549 - 510) + 3 * 90);
    EXPECT_EQ(static_cast<uchar>(b[at]), 0);
    EXPECT_EQ(static_cast<uchar>(b[at + 1]), 128);
    EXPECT_EQ(static_cast<uchar>(b[at + 2]), 0);

    QImage back(path);
    ASSERT_FALSE(back.isNull());
    EXPECT_EQ(back.convertToFormat(QImage::Format_RGB888), picture);
}

TEST_F(FilesTest, SaveWhereNoFileCanBeCreatedReportsPathAndReason)
{
    const Unwritable target = UnwritablePath(dir);
    QString error;
    EXPECT_FALSE(SaveBmpFile(picture, target.path, error));
    EXPECT_TRUE(error.contains(QFileInfo(target.path).absoluteFilePath())) << error.toStdString();
    EXPECT_TRUE(error.contains(target.reason)) << error.toStdString();
    EXPECT_FALSE(QFileInfo::exists(target.path));

    error.clear();
    EXPECT_FALSE(SaveTextFile("a,b\n", target.path, error));
    EXPECT_TRUE(error.contains(target.reason)) << error.toStdString();
    EXPECT_FALSE(QFileInfo::exists(target.path));
}

TEST_F(FilesTest, RelativePathIsReportedInFull)
{
    const QString old = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(dir.path()));
    WriteAll("plain", "x");
    QString error;
    EXPECT_FALSE(SaveBmpFile(picture, "plain/plot.bmp", error));
    QDir::setCurrent(old);
    EXPECT_TRUE(error.contains(dir.filePath("plain/plot.bmp"))) << error.toStdString();
}

TEST_F(FilesTest, ExistingFileSurvivesAFailedSave)
{
    const QString path = dir.filePath("keep.bmp");
    ASSERT_TRUE(WriteAll(path, "previous picture"));
    QString error;
    {
        const FileSizeLimit limit(4096);  // far below the 1.9 MB of the picture
        EXPECT_FALSE(SaveBmpFile(picture, path, error));
    }
    EXPECT_TRUE(error.contains(path)) << error.toStdString();
    EXPECT_EQ(ReadAll(path), QByteArray("previous picture"));
    // No temporary file is left behind either.
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{"keep.bmp"});

    if (geteuid() != 0) {
        // A folder without write permission: the temporary cannot be created.
        QDir(dir.path()).mkdir("locked");
        const QString locked = dir.filePath("locked/keep.bmp");
        ASSERT_TRUE(WriteAll(locked, "previous picture"));
        QFile::setPermissions(dir.filePath("locked"), QFileDevice::ReadOwner | QFileDevice::ExeOwner);
        EXPECT_FALSE(SaveBmpFile(picture, locked, error));
        EXPECT_EQ(ReadAll(locked), QByteArray("previous picture"));
    }
}

TEST_F(FilesTest, TextFileIsWrittenAndReplacedWhole)
{
    const QString path = dir.filePath("sweep.csv");
    QString error;
    ASSERT_TRUE(SaveTextFile("first\n", path, error));
    ASSERT_TRUE(SaveTextFile("MHz,SWR\n1.000,1.50\n", path, error)) << error.toStdString();
    EXPECT_EQ(ReadAll(path), QByteArray("MHz,SWR\n1.000,1.50\n"));

    const QByteArray big(100000, 'x');
    {
        const FileSizeLimit limit(4096);
        EXPECT_FALSE(SaveTextFile(big, path, error));
    }
    EXPECT_EQ(ReadAll(path), QByteArray("MHz,SWR\n1.000,1.50\n"));
}

}  // namespace
