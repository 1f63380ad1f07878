#include "plot/TPanelPlus.h"

#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>

TPanelPlus::TPanelPlus(QWidget* parent) : QWidget(parent)
{
    // The panel always paints all of itself; it never shows its parent's background.
    setAutoFillBackground(false);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMouseTracking(true);
}

void TPanelPlus::paintEvent(QPaintEvent* event)
{
    QPainter painter(this);
    for (const QRect& bare : event->region().subtracted(covered_))
        painter.fillRect(bare, palette().color(QPalette::Button));
    canvas_ = &painter;
    emit Paint(this);
    canvas_ = nullptr;
}

void TPanelPlus::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    emit Resize(this);
}

void TPanelPlus::mousePressEvent(QMouseEvent* event)
{
    const QPoint pos = event->position().toPoint();
    emit MouseDown(this, event->button(), event->modifiers(), pos.x(), pos.y());
}

void TPanelPlus::mouseMoveEvent(QMouseEvent* event)
{
    const QPoint pos = event->position().toPoint();
    emit MouseMove(this, event->modifiers(), pos.x(), pos.y());
}

void TPanelPlus::leaveEvent(QEvent* event)
{
    QWidget::leaveEvent(event);
    emit MouseLeave(this);
}
