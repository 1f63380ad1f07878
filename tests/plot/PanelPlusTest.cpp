#include <gtest/gtest.h>

#include <QPainter>

#include "plot/TPanelPlus.h"

namespace {

TEST(PanelPlus, PaintsItsBackgroundThenLetsTheOwnerDraw)
{
    TPanelPlus panel;
    panel.resize(60, 40);
    QImage picture(30, 20, QImage::Format_RGB888);
    picture.fill(QColor(0, 0, 56));
    QObject* from = nullptr;
    QObject::connect(&panel, &TPanelPlus::Paint, [&](QObject* sender) {
        from = sender;
        if (panel.Canvas())
            panel.Canvas()->drawImage(0, 0, picture);
    });
    const QImage shot = panel.grab().toImage();
    EXPECT_EQ(from, &panel);
    EXPECT_EQ(panel.Canvas(), nullptr); // only while painting
    EXPECT_EQ(QColor(shot.pixel(5, 5)), QColor(0, 0, 56));
    EXPECT_EQ(QColor(shot.pixel(50, 30)), panel.palette().color(QPalette::Button));
}

TEST(PanelPlus, PaintsNoBackgroundWhereTheOwnerCoversIt)
{
    TPanelPlus panel;
    panel.resize(60, 40);
    panel.SetCoveredArea(QRect(0, 0, 30, 20));
    // The owner draws nothing here: the covered part keeps what was there, the rest gets
    // the button face.
    QImage shot(60, 40, QImage::Format_RGB32);
    shot.fill(Qt::magenta);
    panel.render(&shot, QPoint(), QRegion(), QWidget::DrawChildren);
    EXPECT_EQ(QColor(shot.pixel(29, 19)), QColor(Qt::magenta));
    for (const QPoint at : {QPoint(30, 5), QPoint(5, 20), QPoint(59, 39)})
        EXPECT_EQ(QColor(shot.pixel(at)), panel.palette().color(QPalette::Button)) << at.x() << ", " << at.y();
}

} // namespace
