#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtEndian>

#include <csignal>
#ifndef _WIN32
#include <sys/resource.h>
#endif

#include "PlotTestUtil.h"

namespace {

// A little-endian field of 2 or 4 bytes at offset at.
uint32_t Field(const QByteArray& b, int at, int size)
{
    return qFromLittleEndian<quint32>(b.constData() + at) & (size == 2 ? 0xFFFFu : ~0u);
}
QByteArray ReadAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
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
        {10, 4, uint32_t(b.size() - 1168 * 3 * 550), "pixel data offset: rows of 3504 bytes need no padding"},
    };
    for (const auto& f : fields)
        EXPECT_EQ(Field(b, f.at, f.size), f.value) << f.what;
    EXPECT_EQ(QImage(path).convertToFormat(QImage::Format_RGB888), picture);
}

#ifndef _WIN32 // a file size limit makes the save fail half-way: Linux only
// The window tests show the path and the reason of a save into a locked folder; the
// platform's tests the text files' saves.
TEST_F(FilesTest, BmpFailingHalfWayHarmsNoFileAndLeavesNoTemporary)
{
    const QString keep = dir.filePath("keep.bmp");
    {
        QFile f(keep);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly) && f.write("previous") == 8);
    }
    QString error;
    // A file size limit (which binds root too) far below the 1.9 MB of the picture.
    rlimit saved{};
    getrlimit(RLIMIT_FSIZE, &saved);
    const rlimit limit{4096, saved.rlim_max};
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    setrlimit(RLIMIT_FSIZE, &limit);
    EXPECT_FALSE(SaveBmpFile(picture, keep, error));
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_TRUE(error.contains(keep)) << error.toStdString();
    EXPECT_EQ(ReadAll(keep), QByteArray("previous"));
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"keep.bmp"});
}

#endif

} // namespace
