#pragma once
// How large the main window opens, and which scroll bars its client area shows at a size.
// The client area scrolls when the window is smaller than the controls need, so that every
// control stays within reach on small screens.
#include <QSize>

// The window size on first show: 90 % of the screen, each side rounded halves to even,
// at least 900 x 600.
QSize InitialWindowSize(QSize screen);

// What the window needs. Sizes are of the window without its frame, menu bar included.
struct WindowNeeds {
    QSize Minimum{900, 600};  // the window's minimum size
    int ControlsWidth = 0;    // right edge of the rightmost control plus the left margin
    int MenuBarHeight = 0;
    int ScrollBarExtent = 0;  // thickness of a scroll bar

    // The smallest client area the controls are laid out in: as wide as the controls, as
    // high as the window's minimum size leaves below the menu bar.
    QSize ClientMinimum() const { return {ControlsWidth, Minimum.height() - MenuBarHeight}; }
};

struct ScrollBars {
    bool Horizontal = false;
    bool Vertical = false;
    friend bool operator==(const ScrollBars&, const ScrollBars&) = default;
};

// The scroll bars of the client area in a window of this size: a bar shows where the
// client area, less the other bar when that one shows, is smaller than ClientMinimum.
ScrollBars ScrollBarsFor(QSize window, const WindowNeeds& needs);

// The size the window opens at: InitialWindowSize, then widened and heightened to what the
// controls need (with the scroll bars they still need) as far as the available size allows.
// A side where 90 % of the screen falls to the minimum stays at the minimum (1000 x 600 opens
// at 900 x 600, scrolling). Never larger than the available size, unless the minimum size is
// (a 1280 x 720 screen with a task bar opens lower than 648).
// From 1461 pixels of screen width on, this is InitialWindowSize.
QSize OpeningWindowSize(QSize screen, QSize available, const WindowNeeds& needs);
