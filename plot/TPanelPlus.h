#pragma once
// The plot panel: a plain rectangle without bevel that paints its own background
// (the button face) where its owner does not cover it, then lets the owner draw on
// it through Canvas().
#include <QWidget>

class QPainter;

class TPanelPlus : public QWidget {
    Q_OBJECT
public:
    explicit TPanelPlus(QWidget* parent = nullptr);

    // The painter of the paint in progress; nullptr outside a Paint notification.
    QPainter* Canvas() const { return canvas_; }
    // The part of the panel that the owner's drawing covers completely on every paint;
    // the panel paints its background only outside it. Empty at first.
    void SetCoveredArea(const QRect& area) { covered_ = area; }

signals:
    // After the background is painted; draw through Canvas().
    void Paint(QObject* sender);
    void Resize(QObject* sender);
    // Position in panel coordinates.
    void MouseDown(QObject* sender, Qt::MouseButton button, Qt::KeyboardModifiers shift, int x, int y);
    // Every move over the panel, with or without a button held.
    void MouseMove(QObject* sender, Qt::KeyboardModifiers shift, int x, int y);
    void MouseLeave(QObject* sender);
    // The panel is now on another screen, or its screen's scale changed: devicePixelRatioF()
    // may differ from before.
    void DevicePixelRatioChange(QObject* sender);

protected:
    bool event(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    QPainter* canvas_ = nullptr;
    QRect covered_;
};
