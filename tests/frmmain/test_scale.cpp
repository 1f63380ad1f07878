// The window on screens scaled to 100, 200 and 150 %: the plot drawn at each screen's device
// pixels, redrawn as the window moves onto another scale, clicks and the BMP file as at 100 %,
// the picture to post at the screen's pixels.
#include <QFile>
#include <QFileDialog>
#include <QScreen>
#include <QTemporaryDir>

#include <cstdio>
#include <fstream>

#include "frmmain/FormFixture.h"

namespace {

class ScaleTest : public FormTest {
protected:
    // Moves the window onto the screen of that scale ("100", "150", "200").
    void MoveToScreen(const QString& scale)
    {
        for (const QScreen* screen : QGuiApplication::screens())
            if (screen->name() == scale)
                form->move(screen->geometry().topLeft() + QPoint(10, 10));
    }
    // The file BMP Save writes.
    QByteArray SavedBmp()
    {
        const QString path = dir.filePath("plot.bmp");
        form->SaveDialogRun = [path](QFileDialog&) { return path; };
        form->BMPSave->click();
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
    QTemporaryDir dir;
};

TEST_F(ScaleTest, PlotAtEachScreensPixelsRedrawnOnTheMoveWithClicksAndFileAsAtOneHundredPercent)
{
    ASSERT_EQ(QGuiApplication::screens().size(), 3);
    ASSERT_EQ(form->PlotPanel->devicePixelRatioF(), 1.0);
    SizePanelAsDescribed();
    DeliverSweep(1000, 51000, 500, [](int i) { return Counts(100 + i, 200 + i); });
    QTest::mouseClick(form->PlotPanel, Qt::LeftButton, {}, QPoint(584, 300));
    ASSERT_EQ(form->Marker1Index, 250);
    const QByteArray bmp = SavedBmp();
    ASSERT_GT(bmp.size(), 1168 * 550 * 3);

    for (const auto& [screen, ratio] : {std::pair{"200", 2.0}, std::pair{"150", 1.5}, std::pair{"100", 1.0}}) {
        SCOPED_TRACE(ratio);
        const int redraws = form->FullRedraws;
        MoveToScreen(screen);
        // The change of screen itself redraws, before anything is painted.
        ASSERT_EQ(form->PlotPanel->devicePixelRatioF(), ratio);
        EXPECT_GT(form->FullRedraws, redraws);
        EXPECT_EQ(form->PlotBitmap->devicePixelRatio(), ratio);
        EXPECT_EQ(form->PlotBitmap->size(), (QSizeF(form->PlotPanel->size()) * ratio).toSize());
        QApplication::processEvents();
        // The panel shows the picture device pixel for device pixel.
        EXPECT_EQ(form->PlotPanel->grab().toImage().convertToFormat(QImage::Format_RGB888),
                  form->ShownPicture.convertToFormat(QImage::Format_RGB888));
        // A click chooses the sample it chooses at 100 %.
        QTest::mouseClick(form->PlotPanel, Qt::RightButton, {}, QPoint(585, 300));
        EXPECT_EQ(form->Marker2Index, 251);
        // The file holds the plot in logical pixels, byte for byte as at 100 %.
        EXPECT_EQ(SavedBmp(), bmp);
        // The picture to post is the plot as on screen, at the screen's pixels, rows below it.
        const QString png = dir.filePath("picture.png");
        ASSERT_TRUE(form->SavePictureFile(png));
        const QImage picture(png);
        EXPECT_EQ(picture.width(), form->ShownPicture.width());
        EXPECT_GT(picture.height(), form->ShownPicture.height() + int(5 * 12 * ratio));
        EXPECT_EQ(picture.copy(form->ShownPicture.rect()).convertToFormat(QImage::Format_RGB32),
                  form->ShownPicture.convertToFormat(QImage::Format_RGB32));
        EXPECT_TRUE(errors.isEmpty()) << errors.join('\n').toStdString();
    }
}

} // namespace

int main(int argc, char** argv)
{
    // Three screens side by side, scaled as Windows and X11 report it: logical dots per inch
    // over a base of 96. The platform reads the file as the application starts.
    const char* screens = "kestrin-test-scale-screens.json";
    {
        std::ofstream out(screens);
        out << R"({"synchronousWindowSystemEvents": true, "windowFrameMargins": false, "screens": [
  {"name": "100", "x": 0, "y": 0, "width": 1920, "height": 1080, "logicalDpi": 96, "logicalBaseDpi": 96},
  {"name": "200", "x": 1920, "y": 0, "width": 3840, "height": 2160, "logicalDpi": 192, "logicalBaseDpi": 96},
  {"name": "150", "x": 5760, "y": 0, "width": 2880, "height": 1620, "logicalDpi": 144, "logicalBaseDpi": 96}]})";
    }
    qputenv("QT_QPA_PLATFORM", QByteArray("offscreen:configfile=") + screens);
    const int result = RunWindowTests(argc, argv);
    std::remove(screens);
    return result;
}
