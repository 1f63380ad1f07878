// The window's opening size on common screens, and the scrolled client area of a window
// smaller than its controls: every control within reach, the plot working as before.
#include <QFileDialog>
#include <QScrollArea>
#include <QScrollBar>
#include <QTemporaryDir>

#include "frmmain/FormFixture.h"
#include "plot/TPanelPlus.h"

namespace {

const QColor MarkerBlue(0, 0, 255);

} // namespace

// Readable sizes in failure messages.
inline void PrintTo(const QSize& s, std::ostream* os) { *os << s.width() << "x" << s.height(); }
inline void PrintTo(const ScrollBars& b, std::ostream* os)
{
    *os << (b.Horizontal ? "horizontal" : "") << (b.Vertical ? " vertical" : "") << " bars";
}

namespace {

class WindowSizeTest : public FormTest {
protected:
    QScrollBar* HBar() const { return form->ClientScroll->horizontalScrollBar(); }
    QScrollBar* VBar() const { return form->ClientScroll->verticalScrollBar(); }
    ScrollBars Shown() const { return {HBar()->isVisible(), VBar()->isVisible()}; }
    void ResizeTo(QSize size)
    {
        form->resize(size);
        QApplication::processEvents();
        ASSERT_EQ(form->size(), size);
    }
    // The part of the view that w covers, in view coordinates.
    QRect InView(const QWidget* w) const
    {
        return QRect(w->mapTo(form->centralwidget, QPoint(0, 0)), w->size()) & form->centralwidget->rect();
    }
    bool WhollyInView(const QWidget* w) const { return InView(w).size() == w->size(); }
};

} // namespace

TEST_F(WindowSizeTest, OpensAsLargeAsTheControlsNeedWhereTheScreenAllows)
{
    const WindowNeeds needs = form->Needs();
    // The right edge of the marker-2 calculator plus the left margin; as high as the window's
    // minimum size leaves below the menu bar.
    ASSERT_EQ(needs.ClientMinimum(), QSize(1315, 600 - form->MainMenu1->height()));
    ASSERT_EQ(form->ClientArea->minimumSize(), needs.ClientMinimum());
    const int bar = needs.ScrollBarExtent;
    ASSERT_GT(bar, 0);

    const struct {
        QSize screen, available, window;
        ScrollBars bars;
    } screens[] = {
        // From 1461 pixels on, 90 % of the screen is wide enough: nothing changes.
        {{1920, 1080}, {1920, 1040}, {1728, 972}, {}},
        {{1600, 900}, {1600, 860}, {1440, 810}, {}},
        {{1461, 800}, {1461, 770}, {1315, 720}, {}},
        // Narrower screens: widened to the controls.
        {{1366, 768}, {1366, 740}, {1315, 691}, {}},
        {{1440, 620}, {1440, 590}, {1315, 600}, {}},
        // Not enough room: as wide as the screen allows, scrolling sideways; the height
        // grows by the bar as far as it can.
        {{1280, 800}, {1280, 770}, {1280, 720}, {true, false}},
        {{1280, 700}, {1280, 670}, {1280, 630}, {true, false}},
        // Where 90 % of the screen falls to the minimum, that side stays at the minimum.
        {{1280, 660}, {1280, 598 + bar}, {1280, 600}, {true, true}},
        {{1000, 600}, {1000, 570}, {900, 600}, {true, true}},
        {{1001, 800}, {1001, 770}, {1001, 720}, {true, false}},
        // A 1920 x 1080 screen at 125 % and at 150 %, a task bar below: inside the available
        // area, also where the title bar leaves less of it than 90 % of the screen's height.
        {{1536, 864}, {1536, 826}, {1382, 778}, {}},
        {{1280, 720}, {1280, 688}, {1280, 648}, {true, false}},
        {{1280, 720}, {1270, 642}, {1270, 642}, {true, false}},
        // The minimum size holds even where the screen is smaller.
        {{800, 600}, {800, 600}, {900, 600}, {true, true}},
    };
    for (const auto& s : screens) {
        const QSize window = OpeningWindowSize(s.screen, s.available, needs);
        EXPECT_EQ(window, s.window) << s.screen.width() << "x" << s.screen.height();
        EXPECT_EQ(ScrollBarsFor(window, needs), s.bars) << s.screen.width() << "x" << s.screen.height();
    }
    // A window manager may keep the window lower than its minimum: the vertical bar then
    // takes the width that was just enough.
    EXPECT_EQ(ScrollBarsFor({1315 + bar - 1, 599}, needs), (ScrollBars{true, true}));
}

TEST_F(WindowSizeTest, ScrollBarsShowExactlyWhereTheControlsDoNotFit)
{
    const WindowNeeds needs = form->Needs();
    const int menu = needs.MenuBarHeight, bar = needs.ScrollBarExtent;
    // Around the edges: a bar takes room from the other direction.
    const QSize sizes[] = {{1315, 600 + bar}, {1315, 600}, {1314, 600 + bar}, {1314, 599 + bar},
                           {1314 + bar, 700},  {1000, 800}, {1600, 900},       {900, 600}};
    for (const QSize size : sizes) {
        ResizeTo(size);
        EXPECT_EQ(Shown(), ScrollBarsFor(size, needs)) << size.width() << "x" << size.height();
        // The client area is the view where it fits, else the controls' extent.
        const QSize client = form->ClientArea->size();
        EXPECT_EQ(client, form->centralwidget->size().expandedTo(needs.ClientMinimum()));
        // Anchoring: the bottom row 3 pixels above the client area's bottom, the plot panel
        // filling what is left above it and the width of the view.
        EXPECT_EQ(form->GroupBox5->geometry().bottom(), client.height() - 3 - 1);
        EXPECT_EQ(form->PlotPanel->geometry(),
                  QRect(8, 39, form->centralwidget->width() - 13, client.height() - 39 - 104));
        EXPECT_EQ(form->centralwidget->size(),
                  QSize(size.width() - (Shown().Vertical ? bar : 0), size.height() - menu - (Shown().Horizontal ? bar : 0)));
    }
    // Back to a size that fits: no bar, nothing scrolled, every control where it always was.
    HBar()->setValue(HBar()->maximum());
    ResizeTo({1400, 700});
    EXPECT_EQ(Shown(), ScrollBars{});
    EXPECT_EQ(form->ClientArea->geometry(), form->centralwidget->rect());
}

TEST_F(WindowSizeTest, ScrollingBringsEveryControlIntoView)
{
    // Lower and narrower than the controls: both bars.
    const QSize minimum = form->Needs().ClientMinimum();
    ResizeTo({900, 600});
    ASSERT_EQ(Shown(), (ScrollBars{true, true}));
    EXPECT_FALSE(WhollyInView(form->GroupBox5));
    EXPECT_FALSE(WhollyInView(form->Button1));

    QList<QWidget*> controls = form->ClientArea->findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
    controls << form->rbCalcC2 << form->lblResultCalcLorC2 << form->eFend;
    for (QWidget* control : controls) {
        if (control == form->PlotPanel)
            continue; // larger than the view
        // Scrolled so that the whole control shows, as far as the bars reach.
        const QRect place(control->mapTo(form->ClientArea, QPoint(0, 0)), control->size());
        form->ClientScroll->ensureVisible(place.center().x(), place.center().y(), place.width() / 2 + 1,
                                          place.height() / 2 + 1);
        EXPECT_TRUE(WhollyInView(control)) << control->objectName().toStdString();
    }
    // The layout itself does not move: scrolling moves the client area as a whole.
    HBar()->setValue(HBar()->maximum());
    VBar()->setValue(VBar()->maximum());
    EXPECT_EQ(form->GroupBox5->geometry(), QRect(1122, minimum.height() - 3 - 98, 185, 98));
    EXPECT_EQ(form->ClientArea->pos(), -QPoint(HBar()->value(), VBar()->value()));
    EXPECT_EQ(QPoint(HBar()->maximum(), VBar()->maximum()),
              QPoint(minimum.width(), minimum.height()) - QPoint(form->centralwidget->width(), form->centralwidget->height()));

    // Tabbing to a control out of view scrolls it in.
    HBar()->setValue(0);
    form->VNASelect->setFocus(Qt::TabFocusReason);
    QTest::keyClick(form->VNASelect, Qt::Key_Tab);
    ASSERT_EQ(QApplication::focusWidget(), form->rbCalcL2);
    EXPECT_TRUE(WhollyInView(form->rbCalcL2));
}

TEST_F(WindowSizeTest, PlotWorksInAScrolledWindow)
{
    ResizeTo({1000, 700});
    ASSERT_EQ(Shown(), (ScrollBars{true, false}));
    DeliverSweep(1000, 51000, 500, [](int i) { return Counts(512, i == 300 ? 1000 : 512); });
    HBar()->setValue(HBar()->maximum());
    ASSERT_GT(HBar()->value(), 0);

    // A click where the person sees the plot sets the marker there: its line shows under
    // the pointer in the view.
    const QPoint pointer(500, 250);
    ASSERT_EQ(form->centralwidget->childAt(pointer), form->PlotPanel);
    QTest::mouseClick(form->PlotPanel, Qt::LeftButton, Qt::NoModifier, form->PlotPanel->mapFrom(form->centralwidget, pointer));
    ASSERT_GE(form->Marker1Index, 0);
    const QImage view = form->centralwidget->grab().toImage().convertToFormat(QImage::Format_RGB888);
    const std::set<int> lines = ColumnsWith(view, MarkerBlue, 100, 200);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_LE(std::abs(*lines.begin() - pointer.x()), 2); // samples lie 2 pixels apart

    // The view shows the panel's picture, overlay included, shifted by the scroll.
    const QRect visible = InView(form->PlotPanel);
    const QImage picture = form->ShownPicture.convertToFormat(QImage::Format_RGB888);
    EXPECT_EQ(view.copy(visible), picture.copy(QRect(form->PlotPanel->mapFrom(form->centralwidget, visible.topLeft()),
                                                     visible.size())));

    // BMP Save writes the whole plot, also the part scrolled out of view.
    QTemporaryDir dir;
    const QString path = dir.filePath("scrolled.bmp");
    form->SaveDialogRun = [&path](QFileDialog&) { return path; };
    form->BMPSave->click();
    ASSERT_TRUE(errors.isEmpty()) << errors.join('\n').toStdString();
    const QImage saved = QImage(path).convertToFormat(QImage::Format_RGB888);
    EXPECT_EQ(saved.size(), form->PlotPanel->size());
    EXPECT_EQ(saved, *form->PlotBitmap);
}

int main(int argc, char** argv) { return RunWindowTests(argc, argv); }
