#pragma once

#include <QPoint>
#include <QRect>

class QWidget;

namespace tarnvel::gui {

// The part of the desktop a window may use: the available area (without panels) of the
// screen at `point`, or of the window's own screen when no screen is there.
QRect availableArea(const QWidget* window, const QPoint& point);
// The available area of the screen the window's frame stands on.
QRect availableArea(const QWidget* window);

// Moves a top-level window, laid out at its size, so that its frame lies inside `area`, and
// shrinks it first when it is larger than the area (not below its minimum size). A window
// not yet framed by the window system is counted with the main window's frame.
void fitIntoArea(QWidget* window, const QRect& area);
// The same for a window whose frame is to go to `frameTopLeft` first.
void placeInside(QWidget* window, const QPoint& frameTopLeft, const QRect& area);
// Centres a window's frame on another window's frame, then fits it into `area`.
void centreOn(QWidget* window, const QWidget* other, const QRect& area);

} // namespace tarnvel::gui
