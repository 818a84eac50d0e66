#include "app/ScreenArea.h"

#include <algorithm>

namespace tarnvel::app {

namespace {

// The start of a span of `length` moved into [low, low + room): as little as it takes, and
// to `low` when it cannot fit.
int moveInto(int start, int length, int low, int room)
{
    return std::max(low, std::min(start, low + room - length));
}

} // namespace

ScreenRect fitIntoArea(const ScreenRect& frame, const ScreenRect& area, int minWidth, int minHeight)
{
    ScreenRect r = frame;
    r.width = std::max(std::min(r.width, area.width), minWidth);
    r.height = std::max(std::min(r.height, area.height), minHeight);
    r.x = moveInto(r.x, r.width, area.x, area.width);
    r.y = moveInto(r.y, r.height, area.y, area.height);
    return r;
}

ScreenRect centredOn(int width, int height, const ScreenRect& other)
{
    return {other.x + (other.width - width) / 2, other.y + (other.height - height) / 2, width,
            height};
}

} // namespace tarnvel::app
