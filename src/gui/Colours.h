#pragma once

#include <QColor>
#include <QPalette>
#include <cstdint>

namespace tarnvel::gui {

// A colour setting as a QColor: its red, green and blue, or the palette colour a desktop
// colour number stands for (the button face, the window, the text colours ...).
QColor settingColour(std::int32_t setting, const QPalette& palette);

} // namespace tarnvel::gui
