#include "base/WindowPlacement.h"

namespace tavrix {

WinRect CentreOn(const WinRect& screen, int width, int height) {
    const int left = screen.left + (screen.Width() - width) / 2;
    const int top = screen.top + (screen.Height() - height) / 2;
    return {left, top, left + width, top + height};
}

std::array<WinRect, 12> PlaceMonitors(const std::array<WinRect, 12>& saved, const WinRect& screen,
                                      int width, int height) {
    std::array<WinRect, 12> out{};
    for (int i = 0; i < 12; ++i) {
        if (!saved[i].Empty()) {
            out[i] = saved[i];
        } else if (i >= 1) {
            out[i] = out[i - 1].Offset(10, 10);
        } else {
            out[i] = CentreOn(screen, width, height);
        }
    }
    return out;
}

WinRect PlaceShortcutBar(const WinRect& view, int barWidth, int barHeight, const WinRect& screen) {
    const int left = barWidth < view.Width() ? view.right - barWidth : view.right;
    const WinRect placed{left, view.top, left + barWidth, view.top + barHeight};
    if (view.top + 50 < screen.bottom && placed.left + 50 < screen.right) return placed;
    return CentreOn(screen, barWidth, barHeight);
}

}  // namespace tavrix
