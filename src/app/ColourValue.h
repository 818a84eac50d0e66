#pragma once

#include <cstdint>

namespace tarnvel::app {

// A colour setting: red in the low byte, then green, then blue; with the top bit set the low
// byte names one of the desktop's colours instead (15 = the button face, 5 = the window
// background, ...), which the view looks up in its palette.
struct ColourValue {
    bool system = false;
    int systemIndex = 0; // 0..255 when `system`
    std::uint8_t red = 0;
    std::uint8_t green = 0;
    std::uint8_t blue = 0;
};

inline ColourValue decodeColour(std::int32_t setting)
{
    const auto v = static_cast<std::uint32_t>(setting);
    ColourValue c;
    c.system = (v & 0x80000000u) != 0;
    if (c.system) {
        c.systemIndex = static_cast<int>(v & 0xFFu);
        return c;
    }
    c.red = static_cast<std::uint8_t>(v);
    c.green = static_cast<std::uint8_t>(v >> 8);
    c.blue = static_cast<std::uint8_t>(v >> 16);
    return c;
}

// The desktop colours the settings name by number.
inline constexpr int kSystemButtonFace = 15;
inline constexpr int kSystemWindow = 5;

} // namespace tarnvel::app
