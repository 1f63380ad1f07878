#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <sys/resource.h>
#include <unistd.h>

#include "PlotTestUtil.h"

namespace {

// A little-endian field of size bytes at offset at.
uint32_t Field(const QByteArray& b, int at, int size)
{
    uint32_t v = 0;
    std::memcpy(&v, b.constData() + at, size_t(size));
    return v;
}

QByteArray ReadAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool WriteAll(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

class FilesTest : public ::testing::Test {
protected:
    QTemporaryDir dir;
    QImage picture = AxesPicture(Geometry());
};

TEST_F(FilesTest, BmpIsUncompressedTwentyFourBitOfThePictureSize)
{
    const QString path = dir.filePath("plot.bmp");
    QString error;
    ASSERT_TRUE(SaveBmpFile(picture, path, error)) << error.toStdString();
    const QByteArray b = ReadAll(path);
    ASSERT_GE(b.size(), 54);
    const struct { int at, size; uint32_t value; const char* what; } fields[] = {
        {0, 2, 'B' | 'M' << 8, "signature"}, {2, 4, uint32_t(b.size()), "file size"}, {14, 4, 40, "info header size"},
        {18, 4, 1168, "width"}, {22, 4, 550, "height, positive: rows from the bottom"}, {26, 2, 1, "planes"},
        {28, 2, 24, "bits per pixel"}, {30, 4, 0, "compression"},
    };
    for (const auto& f : fields)
        EXPECT_EQ(Field(b, f.at, f.size), f.value) << f.what;
    const uint32_t offset = Field(b, 10, 4), rowBytes = (1168 * 3 + 3) & ~3u;
    EXPECT_EQ(uint32_t(b.size()), offset + rowBytes * 550);
    // The frame pixel (90, 510) in blue, green, red order.
    EXPECT_EQ(b.mid(int(offset + rowBytes * (549 - 510) + 3 * 90), 3), QByteArray("\x00\x80\x00", 3));
    EXPECT_EQ(QImage(path).convertToFormat(QImage::Format_RGB888), picture);
}

TEST_F(FilesTest, FailedSaveNamesThePathAndReasonAndHarmsNoFile)
{
    // Nothing can be created below a regular file, nor (unless root) in a folder without write permission.
    ASSERT_TRUE(WriteAll(dir.filePath("plain"), "x") && QDir(dir.path()).mkdir("locked"));
    QFile::setPermissions(dir.filePath("locked"), QFile::ReadOwner | QFile::ExeOwner);
    QString bmpError, textError;
    for (const auto& [folder, code] : {std::pair{"plain/", ENOTDIR}, std::pair{"locked/", EACCES}}) {
        if (code == EACCES && geteuid() == 0)
            continue;
        const QString reason = QString::fromLocal8Bit(std::strerror(code));
        const QString bmp = dir.filePath(folder + QString("plot.bmp")), csv = dir.filePath(folder + QString("table.csv"));
        EXPECT_FALSE(SaveBmpFile(picture, bmp, bmpError));
        EXPECT_FALSE(SaveTextFile("a,b\n", csv, textError));
        EXPECT_TRUE(bmpError.contains(bmp) && bmpError.contains(reason)) << bmpError.toStdString();
        EXPECT_TRUE(textError.contains(csv) && textError.contains(reason)) << textError.toStdString();
        EXPECT_FALSE(QFileInfo::exists(bmp) || QFileInfo::exists(csv));
    }

    // An existing file survives saves that fail half-way, and no temporary is left; a good save replaces it whole.
    QDir(dir.path()).mkdir("half");
    const QString keep = dir.filePath("half/keep.csv");
    ASSERT_TRUE(WriteAll(keep, "previous"));
    // A file size limit (which binds root too) far below the 1.9 MB of the picture.
    rlimit saved{};
    getrlimit(RLIMIT_FSIZE, &saved);
    rlimit limit = saved;
    limit.rlim_cur = 4096;
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    setrlimit(RLIMIT_FSIZE, &limit);
    EXPECT_FALSE(SaveBmpFile(picture, keep, bmpError));
    EXPECT_FALSE(SaveTextFile(QByteArray(100000, 'x'), keep, textError));
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_TRUE(textError.contains(keep)) << textError.toStdString();
    EXPECT_EQ(ReadAll(keep), QByteArray("previous"));
    EXPECT_EQ(QDir(dir.filePath("half")).entryList(QDir::Files | QDir::Hidden), QStringList{"keep.csv"});
    ASSERT_TRUE(SaveTextFile("MHz,SWR\n1.000,1.50\n", keep, textError)) << textError.toStdString();
    EXPECT_EQ(ReadAll(keep), QByteArray("MHz,SWR\n1.000,1.50\n"));
}

} // namespace
