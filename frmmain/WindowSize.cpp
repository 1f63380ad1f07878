#include "frmmain/WindowSize.h"

#include <algorithm>
#include <cmath>

#include "measure/Extended.h"

QSize InitialWindowSize(QSize screen)
{
    const long h = lrintl(static_cast<Extended>(screen.height()) * 0.9L);
    const long w = lrintl(static_cast<Extended>(screen.width()) * 0.9L);
    return QSize(std::max<int>(900, static_cast<int>(w)), std::max<int>(600, static_cast<int>(h)));
}

ScrollBars ScrollBarsFor(QSize window, const WindowNeeds& needs)
{
    const QSize client(window.width(), window.height() - needs.MenuBarHeight);
    const QSize minimum = needs.ClientMinimum();
    const int bar = needs.ScrollBarExtent;
    ScrollBars bars;
    // Each bar takes room from the other direction; two rounds settle it.
    for (int round = 0; round < 2; ++round) {
        bars.Horizontal = client.width() - (bars.Vertical ? bar : 0) < minimum.width();
        bars.Vertical = client.height() - (bars.Horizontal ? bar : 0) < minimum.height();
    }
    return bars;
}

QSize OpeningWindowSize(QSize screen, QSize available, const WindowNeeds& needs)
{
    const QSize rule = InitialWindowSize(screen);
    const QSize minimum = needs.ClientMinimum();
    QSize size = rule;
    // Where 90 % of the screen falls to the minimum size, the window opens at that minimum
    // in that direction and scrolls: it is already larger than the rule wants.
    const bool widenW = lrintl(static_cast<Extended>(screen.width()) * 0.9L) > needs.Minimum.width();
    const bool widenH = lrintl(static_cast<Extended>(screen.height()) * 0.9L) > needs.Minimum.height();
    // Widening one way can spare the bar that took room the other way, so the need is
    // taken again until the size stays.
    for (int round = 0; round < 4; ++round) {
        const ScrollBars bars = ScrollBarsFor(size, needs);
        const int needW = minimum.width() + (bars.Vertical ? needs.ScrollBarExtent : 0);
        const int needH = needs.MenuBarHeight + minimum.height() + (bars.Horizontal ? needs.ScrollBarExtent : 0);
        const QSize next(widenW ? std::max(rule.width(), std::min(needW, available.width())) : rule.width(),
                         widenH ? std::max(rule.height(), std::min(needH, available.height())) : rule.height());
        if (next == size)
            break;
        size = next;
    }
    // Never larger than the available area (the task bars left out), unless the minimum is.
    return size.boundedTo(available).expandedTo(needs.Minimum);
}
