#include <gtest/gtest.h>

#include <QPainter>
#include <QSignalSpy>
#include <QTest>

#include "plot/TPanelPlus.h"

namespace {

TEST(PanelPlus, PaintsItsBackgroundThenLetsTheOwnerDraw)
{
    TPanelPlus panel;
    panel.resize(60, 40);
    QImage picture(30, 20, QImage::Format_RGB888);
    picture.fill(QColor(0, 0, 56));
    bool hadCanvas = false;
    QObject* from = nullptr;
    QObject::connect(&panel, &TPanelPlus::Paint, [&](QObject* sender) {
        from = sender;
        hadCanvas = panel.Canvas() != nullptr;
        if (panel.Canvas())
            panel.Canvas()->drawImage(0, 0, picture);
    });
    const QImage shot = panel.grab().toImage();
    EXPECT_TRUE(hadCanvas);
    EXPECT_EQ(from, &panel);
    EXPECT_EQ(panel.Canvas(), nullptr);
    EXPECT_EQ(QColor(shot.pixel(5, 5)), QColor(0, 0, 56));
    EXPECT_EQ(QColor(shot.pixel(50, 30)), panel.palette().color(QPalette::Button));
}

TEST(PanelPlus, ReportsResizeAndMouseDown)
{
    TPanelPlus panel;
    QSignalSpy resized(&panel, &TPanelPlus::Resize);
    QSignalSpy down(&panel, &TPanelPlus::MouseDown);
    panel.resize(200, 100);
    panel.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&panel));
    EXPECT_GE(resized.count(), 1);

    QTest::mousePress(&panel, Qt::RightButton, Qt::ShiftModifier, QPoint(17, 23));
    ASSERT_EQ(down.count(), 1);
    const QList<QVariant> args = down.takeFirst();
    EXPECT_EQ(args.at(0).value<QObject*>(), &panel);
    EXPECT_EQ(args.at(1).value<Qt::MouseButton>(), Qt::RightButton);
    EXPECT_EQ(args.at(2).value<Qt::KeyboardModifiers>(), Qt::ShiftModifier);
    EXPECT_EQ(args.at(3).toInt(), 17);
    EXPECT_EQ(args.at(4).toInt(), 23);
}

}  // namespace
