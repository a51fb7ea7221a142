#pragma once

#include <array>

namespace tavrix {

// A screen rectangle as the settings store keeps it.
struct WinRect {
    int left = 0, top = 0, right = 0, bottom = 0;
    int Width() const { return right - left; }
    int Height() const { return bottom - top; }
    // All four zero: nothing was saved.
    bool Empty() const { return left == 0 && top == 0 && right == 0 && bottom == 0; }
    WinRect Offset(int dx, int dy) const { return {left + dx, top + dy, right + dx, bottom + dy}; }
    bool operator==(const WinRect&) const = default;
};

WinRect CentreOn(const WinRect& screen, int width, int height);

// Places the twelve monitor windows (inputs A..H, heater 1, heater 2, analog 1, analog 2): a
// saved rectangle is used unchanged; without one, A is centred and every other monitor sits 10
// pixels right of and below the one before it, so that no two open on top of each other.
std::array<WinRect, 12> PlaceMonitors(const std::array<WinRect, 12>& saved, const WinRect& screen,
                                      int width, int height);

// Places the shortcut bar at the top of the view's window: right-aligned with it when the bar is
// narrower, else just right of it; centred when that would put it off the screen.
WinRect PlaceShortcutBar(const WinRect& view, int barWidth, int barHeight, const WinRect& screen);

}  // namespace tavrix
