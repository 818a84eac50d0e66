#include "gui/WindowPlace.h"

#include "app/ScreenArea.h"

#include <QGuiApplication>
#include <QMargins>
#include <QScreen>
#include <QWidget>

namespace tarnvel::gui {

namespace {

QMargins frameOf(const QWidget* w)
{
    const QRect g = w->geometry();
    const QRect f = w->frameGeometry();
    return {g.left() - f.left(), g.top() - f.top(), f.right() - g.right(), f.bottom() - g.bottom()};
}

// Before the window system has framed a window, its frame is not known yet: the title bar
// and borders will be those of the program's other windows.
QMargins expectedFrame(const QWidget* w)
{
    const QMargins own = frameOf(w);
    if (!own.isNull() || w->isVisible())
        return own;
    for (const QWidget* p = w->parentWidget(); p != nullptr; p = p->parentWidget())
        if (p->isWindow() && p->isVisible())
            return frameOf(p->window());
    return own;
}

app::ScreenRect screenRect(const QRect& r)
{
    return {r.x(), r.y(), r.width(), r.height()};
}

QRect fallbackArea()
{
    const QScreen* s = QGuiApplication::primaryScreen();
    return s != nullptr ? s->availableGeometry() : QRect(0, 0, 1024, 768);
}

} // namespace

QRect availableArea(const QWidget* window, const QPoint& point)
{
    if (const QScreen* s = QGuiApplication::screenAt(point))
        return s->availableGeometry();
    if (const QScreen* s = window != nullptr ? window->screen() : nullptr)
        return s->availableGeometry();
    return fallbackArea();
}

QRect availableArea(const QWidget* window)
{
    return availableArea(window, window->frameGeometry().center());
}

void fitIntoArea(QWidget* window, const QRect& area)
{
    placeInside(window, window->pos(), area);
}

void placeInside(QWidget* window, const QPoint& frameTopLeft, const QRect& area)
{
    const QMargins m = expectedFrame(window);
    const int frameWidth = m.left() + m.right();
    const int frameHeight = m.top() + m.bottom();
    const QSize minimum = window->minimumSize().expandedTo(window->minimumSizeHint());
    const app::ScreenRect frame{frameTopLeft.x(), frameTopLeft.y(), window->width() + frameWidth,
                                window->height() + frameHeight};
    const app::ScreenRect fitted =
        app::fitIntoArea(frame, screenRect(area), std::max(0, minimum.width()) + frameWidth,
                         std::max(0, minimum.height()) + frameHeight);
    if (fitted.width != frame.width || fitted.height != frame.height)
        window->resize(fitted.width - frameWidth, fitted.height - frameHeight);
    // A window's position is that of its frame.
    window->move(fitted.x, fitted.y);
}

void centreOn(QWidget* window, const QWidget* other, const QRect& area)
{
    const QMargins m = expectedFrame(window);
    const app::ScreenRect at =
        app::centredOn(window->width() + m.left() + m.right(),
                       window->height() + m.top() + m.bottom(), screenRect(other->frameGeometry()));
    placeInside(window, QPoint(at.x, at.y), area);
}

} // namespace tarnvel::gui
