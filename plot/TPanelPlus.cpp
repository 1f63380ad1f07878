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

bool TPanelPlus::event(QEvent* event)
{
    // Qt 6.6 and later name the change of scale; before, a widget learns of it as the
    // change of its window's screen.
    bool ratio = event->type() == QEvent::ScreenChangeInternal;
#if QT_VERSION >= QT_VERSION_CHECK(6, 6, 0)
    ratio = ratio || event->type() == QEvent::DevicePixelRatioChange;
#endif
    const bool handled = QWidget::event(event);
    if (ratio)
        emit DevicePixelRatioChange(this);
    return handled;
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
