#pragma once

// Where windows go on the desktop: every window, once laid out, lies inside the screen area
// it may use (the screen without panels), so that its title bar and buttons stay in reach.
namespace tarnvel::app {

// A rectangle on the desktop, in the window system's logical pixels.
struct ScreenRect {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
    int right() const { return x + width; } // one past the last column
    int bottom() const { return y + height; }
    bool contains(const ScreenRect& r) const
    {
        return r.x >= x && r.y >= y && r.right() <= right() && r.bottom() <= bottom();
    }
    bool operator==(const ScreenRect&) const = default;
};

// A window's frame moved into `area`: a frame larger than the area is first made as small as
// the area (not below the window's smallest frame size), then the frame is moved as little
// as it takes. A window that cannot be made small enough keeps its top left corner, and so
// its title bar, inside the area.
ScreenRect fitIntoArea(const ScreenRect& frame, const ScreenRect& area, int minWidth = 0,
                       int minHeight = 0);

// A frame of this size centred on another window's frame.
ScreenRect centredOn(int width, int height, const ScreenRect& other);

} // namespace tarnvel::app
