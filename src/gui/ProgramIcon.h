#pragma once

#include <QIcon>

namespace tarnvel::gui {

// The program's icon: a DAT cassette (the same drawing as data/tarnvel.svg, which the
// desktop's menus use).
QIcon programIcon();

} // namespace tarnvel::gui
